#pragma once

// The windows are laid out in twips for the classic 8-point "MS Sans Serif"
// dialog font. Maps that family to a metric-compatible font that is installed
// and makes it the application's font, so captions fit their controls.
void useClassicDialogFont();
