#include "batch/progress.h"

#include <cmath>
#include <limits>

#include "platform/platform.h"

namespace basFunctions {

void AddToCounter(std::int32_t& counter, std::int32_t by) {
  const std::int64_t sum = static_cast<std::int64_t>(counter) + by;
  if (sum > std::numeric_limits<std::int32_t>::max() ||
      sum < std::numeric_limits<std::int32_t>::min())
    throw platform::Error(platform::kErrOverflow, "Overflow");
  counter = static_cast<std::int32_t>(sum);
}

double ProgressStep(std::int32_t fileCount) {
  if (fileCount <= 0) return 0.0;
  return (100.0 / fileCount) / 3.0;
}

float BarValue(std::int32_t counter, double step) {
  return static_cast<float>(counter * step);
}

std::string PercentCaption(double value, const std::string& decimalSeparator) {
  // Tenths as a whole number: nearbyint rounds half to even in the default
  // rounding mode, and integer digits keep the text free of the C locale.
  const long long tenths = std::llround(std::nearbyint(value * 10.0));
  // Unsigned, so that the most negative tenths (what llround gives for a
  // value it cannot hold) negates without overflow.
  const unsigned long long magnitude =
      tenths < 0 ? 0ULL - static_cast<unsigned long long>(tenths)
                 : static_cast<unsigned long long>(tenths);
  std::string text = tenths < 0 ? "-" : "";
  text += std::to_string(magnitude / 10);
  if (magnitude % 10 != 0)
    text += decimalSeparator + std::to_string(magnitude % 10);
  return "Progress: " + text + "%";
}

}  // namespace basFunctions
