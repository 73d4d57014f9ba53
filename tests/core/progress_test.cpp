// The progress arithmetic on its own: the numbers the batch shows for a
// counter value, and the overflow check of the counter.
#include <cstdint>
#include <limits>

#include "batch/progress.h"
#include "gtest/gtest.h"
#include "platform/platform.h"

namespace basFunctions {
namespace {

struct CaptionCase {
  double value;
  const char* separator;
  const char* caption;
};

class PercentCaptionTest : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(PercentCaptionTest, RoundsHalfToEvenInShortestForm) {
  const CaptionCase& c = GetParam();
  EXPECT_EQ(PercentCaption(c.value, c.separator), c.caption) << c.value;
}

// Ties are chosen so that value x 10 is exact in binary; 12.35 is not one
// (its double lies just below the tie), so it is left out on purpose.
INSTANTIATE_TEST_SUITE_P(
    Values, PercentCaptionTest,
    ::testing::Values(CaptionCase{25.0, ".", "Progress: 25%"},
                      CaptionCase{100.0, ".", "Progress: 100%"},
                      CaptionCase{0.0, ".", "Progress: 0%"},
                      CaptionCase{100.0 / 3.0, ".", "Progress: 33.3%"},
                      CaptionCase{200.0 / 3.0, ".", "Progress: 66.7%"},
                      CaptionCase{100.0 / 3.0, ",", "Progress: 33,3%"},
                      CaptionCase{12.25, ".", "Progress: 12.2%"},
                      CaptionCase{12.75, ".", "Progress: 12.8%"},
                      CaptionCase{0.25, ".", "Progress: 0.2%"},
                      CaptionCase{99.96, ".", "Progress: 100%"},
                      CaptionCase{24.96, ".", "Progress: 25%"},
                      CaptionCase{0.04, ".", "Progress: 0%"},
                      CaptionCase{8.3333, ".", "Progress: 8.3%"},
                      CaptionCase{12.5, ",", "Progress: 12,5%"},
                      CaptionCase{7.05 + 1e-9, ".", "Progress: 7.1%"}));

struct CounterCase {
  std::int32_t start;
  std::int32_t by;
  bool overflows;
};

class AddToCounterTest : public ::testing::TestWithParam<CounterCase> {};

TEST_P(AddToCounterTest, ChecksThe32BitRange) {
  const CounterCase& c = GetParam();
  std::int32_t counter = c.start;
  if (!c.overflows) {
    AddToCounter(counter, c.by);
    EXPECT_EQ(counter, static_cast<std::int64_t>(c.start) + c.by);
    return;
  }
  try {
    AddToCounter(counter, c.by);
    ADD_FAILURE() << c.start << " + " << c.by << " did not overflow";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), platform::kErrOverflow);
  }
  EXPECT_EQ(counter, c.start) << "an overflow must leave the counter alone";
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

INSTANTIATE_TEST_SUITE_P(Edges, AddToCounterTest,
                         ::testing::Values(CounterCase{1, 3, false},
                                           CounterCase{kMax - 3, 3, false},
                                           CounterCase{kMax - 2, 3, true},
                                           CounterCase{kMax, 1, true},
                                           CounterCase{kMin + 1, -1, false},
                                           CounterCase{kMin, -1, true}));

TEST(ProgressStepTest, IsZeroForAnEmptyListing) {
  EXPECT_EQ(ProgressStep(0), 0.0);
  EXPECT_EQ(BarValue(1, ProgressStep(0)), 0.0f);
}

TEST(ProgressStepTest, WorkedExampleBarValues) {
  // Four files: the first MP3 shows counters 1..3, the second 7..9.
  const double step = ProgressStep(4);
  const float expected[] = {8.333333f,  16.666666f, 25.0f,
                            58.333332f, 66.666664f, 75.0f};
  const std::int32_t counters[] = {1, 2, 3, 7, 8, 9};
  for (int i = 0; i < 6; ++i)
    EXPECT_FLOAT_EQ(BarValue(counters[i], step), expected[i]) << counters[i];
  EXPECT_EQ(BarValue(3, step), 25.0f);
  EXPECT_EQ(BarValue(9, step), 75.0f);
}

// The last file of a listing ends at counter 3N: the bar must reach exactly
// 100 there (the progress bar rejects anything above).
TEST(ProgressStepTest, LastFileShowsExactlyFullForEveryCount) {
  for (std::int32_t n = 1; n <= 100000; ++n) {
    const float last = BarValue(3 * n, ProgressStep(n));
    ASSERT_EQ(last, 100.0f) << "N = " << n;
    ASSERT_EQ(PercentCaption(3 * n * ProgressStep(n), "."), "Progress: 100%")
        << "N = " << n;
  }
}

}  // namespace
}  // namespace basFunctions
