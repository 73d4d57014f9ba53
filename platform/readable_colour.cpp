#include "platform/readable_colour.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

constexpr double kReadable = 3.0;

// Relative luminance of an sRGB colour.
double Luminance(Rgb c) {
  auto linear = [](std::uint8_t v) {
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) +
         0.0722 * linear(c.blue);
}

// `c` moved `t` of the way to `towards`, a grey: mixing with a grey keeps
// the hue.
Rgb Mix(Rgb c, std::uint8_t towards, int t) {
  auto mix = [&](std::uint8_t v) {
    return static_cast<std::uint8_t>(
        std::lround(v + (towards - v) * t / 255.0));
  };
  return {mix(c.red), mix(c.green), mix(c.blue)};
}

}  // namespace

double Contrast(Rgb a, Rgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

Rgb ReadableOn(Rgb wanted, Rgb background, Rgb themeText) {
  if (Contrast(wanted, background) >= kReadable) return wanted;
  if (wanted == Rgb{0, 0, 0}) return themeText;
  // Towards white on a dark background, towards black on a light one.
  const std::uint8_t towards = Luminance(background) < 0.18 ? 255 : 0;
  for (int t = 1; t < 255; ++t)
    if (Contrast(Mix(wanted, towards, t), background) >= kReadable)
      return Mix(wanted, towards, t);
  return Rgb{towards, towards, towards};
}

}  // namespace platform
