#pragma once

// The zoom levels a reader steps through with Ctrl+plus and Ctrl+minus, those of the
// usual browsers, from a quarter to five times the document's own size.

// The level one step above current (step > 0) or below it (step < 0), staying at the
// ends of the scale; the document's own size (1) for step 0.
double zoomStep(double current, int step);
