// The progress arithmetic of the batch: the overflow-checked step counter,
// the step per counter unit, and the texts and values shown for a counter.
#pragma once

#include <cstdint>
#include <string>

namespace basFunctions {

// Adds `by` to `counter`; a result outside 32-bit signed range is an
// Overflow error and leaves `counter` unchanged.
void AddToCounter(std::int32_t& counter, std::int32_t by);

// (100 / fileCount) / 3, or 0 for an empty listing.
double ProgressStep(std::int32_t fileCount);

// The progress bar value for counter c: c x step, in single precision.
float BarValue(std::int32_t counter, double step);

// "Progress: " + value rounded half-to-even to one decimal, in its shortest
// form (25, 33.3) with the locale's decimal separator, + "%".
std::string PercentCaption(double value, const std::string& decimalSeparator);

}  // namespace basFunctions
