// The percentage text for values the batch never shows: it shows 0 to 100,
// but the function takes any double.
#include <cmath>
#include <limits>
#include <regex>
#include <string>

#include "batch/progress.h"
#include "gtest/gtest.h"

namespace {

// LLONG_MIN is what llround gives for a value it cannot hold; its text must
// still be well formed, and negating it must not overflow.
TEST(HostileProgress, PercentCaptionOutsideTheBatchRange) {
  const double kInfinity = std::numeric_limits<double>::infinity();
  const std::regex wellFormed(R"(Progress: -?(0|[1-9][0-9]*)(\.[1-9])?%)");
  for (const double value :
       {std::nan(""), kInfinity, -kInfinity, 1e300, -1e300, 9.3e17, -9.3e17}) {
    const std::string text = basFunctions::PercentCaption(value, ".");
    EXPECT_TRUE(std::regex_match(text, wellFormed)) << value << ": " << text;
  }
}

}  // namespace
