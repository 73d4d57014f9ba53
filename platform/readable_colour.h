// How a backend draws a status colour so that it can be read on the theme's
// background, whatever the theme: light, dark or high contrast. Portable.
#pragma once

#include "platform/controls.h"

namespace platform {

// The contrast ratio of two colours, from 1 (alike) to 21 (black on white).
double Contrast(Rgb a, Rgb b);

// `wanted` itself when it reaches a contrast of 3 on `background`; else
// black becomes the theme's text colour, and any other colour is lightened
// or darkened, keeping its hue, just enough to reach 3.
Rgb ReadableOn(Rgb wanted, Rgb background, Rgb themeText);

}  // namespace platform
