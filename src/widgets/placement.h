#pragma once

class QWidget;

namespace Placement {
// Moves a window, frame included, to the middle of its screen's free area.
void centerOnScreen(QWidget *window);
// Moves a window to the middle of its owner window, or of its screen when it has none.
void centerOnOwner(QWidget *window);
} // namespace Placement
