// Responsiveness: the batch runs on FOLDER, which holds one MP3 file that
// tells the tests' stand-in decoder (DECODER) to sleep a few seconds, while
// an event is posted to the window every 10 ms. Prints how many events were
// handled and their waits in ms: median, 99th percentile and maximum, and
// when (ms after the batch began) the longest-waiting event was posted. A
// batch that handled events only between its 500 ms wait slices would show
// a maximum near 500.
//
// Usage: bench_respond FOLDER DECODER
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/basFunctions.h"
#include "bench/bench_util.h"
#include "bench/poster.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "window/frmMain.h"

namespace {

constexpr int kPostIntervalMs = 10;

// The value below which `fraction` of the sorted values lie (nearest rank).
double Percentile(const std::vector<double>& sorted, double fraction) {
  const auto rank = static_cast<std::size_t>(
      std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER DECODER\n", argv[0]);
    return 2;
  }
  platform::Initialize();
  frmMain form;
  bench::EventPoster poster(kPostIntervalMs);
  const auto start = bench::Clock::now();
  basFunctions::Main(form, {argv[1], {argv[2]}, platform::kPathSeparator});
  const double seconds = bench::SecondsSince(start);
  const std::vector<bench::EventPoster::Event> events = poster.Finish();
  if (form.lblStatus.Caption() != bench::CompletedStatus())
    bench::Fail("the batch ended with \"" + form.lblStatus.Caption() + "\"");
  if (events.empty()) bench::Fail("no event was handled");

  std::vector<double> waits;
  for (const auto& event : events) waits.push_back(event.waitMs);
  std::sort(waits.begin(), waits.end());
  // When the longest wait began tells what held the thread: the decoder's
  // start is at the beginning, its end (and the final status) at the end.
  const auto worst = std::max_element(
      events.begin(), events.end(),
      [](const auto& a, const auto& b) { return a.waitMs < b.waitMs; });
  bench::Report("batch_seconds", seconds);
  bench::Report("events", static_cast<double>(waits.size()));
  bench::Report("median_ms", Percentile(waits, 0.5));
  bench::Report("p99_ms", Percentile(waits, 0.99));
  bench::Report("max_ms", waits.back());
  bench::Report("max_posted_at_ms", worst->postedMs);
  return 0;
}
