#pragma once

#include <optional>

// The browser's height in twips for a client area of innerHeight that holds
// the cool bar and the status bar, less allowance; worked in single precision.
// No value when the result cannot be given to a control (negative or not finite).
std::optional<float> browserHeightTwips(float innerHeight, float coolBarHeight,
                                        float statusBarHeight, float allowance);
