// A folder of 10,000 files, ten of them MP3s: the batch walks all of them
// pumping events at each, keeps every message, ends at 100% and does not
// grow in memory with the listing.
#include <fstream>
#include <sstream>

#include "gtest/gtest.h"
#include "tests/hostile/hostile_support.h"

namespace hostile {
namespace {

using testing_support::JoinLog;

constexpr int kFiles = 10000;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory in quarantine (256 MB by default), so
// the peak says nothing about the program there.
constexpr bool kPeakMeaningful = false;
#else
constexpr bool kPeakMeaningful = true;
#endif
constexpr int kMp3Every = kFiles / 10;

// A field of /proc/self/status, in KiB.
long StatusKib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) != 0) continue;
    std::istringstream value(line.substr(field.size() + 1));
    long kib = 0;
    value >> kib;
    return kib;
  }
  return -1;
}

// Starts peak resident memory afresh at the current size.
bool ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear.flush());
}

TEST(HostileScale, TenThousandFilesTenMp3s) {
  BatchFixture batch;
  std::vector<std::string> listed;
  std::vector<std::string> messages = {"Audio folder: " +
                                       batch.audio().string()};
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    const bool mp3 = i % kMp3Every == kMp3Every / 2;
    std::snprintf(name, sizeof name, mp3 ? "f%05d.mp3" : "f%05d.txt", i);
    batch.Add(name, mp3 ? "ok" : "");
    listed.push_back(name);
    if (!mp3) continue;
    messages.push_back(std::string("Decoding ") + name + "...");
    messages.push_back(batch.PathOf(name) + " decoding complete.");
  }
  messages.push_back(kCompleted);
  const bool peakReset = ResetPeakMemory();
  const long before = StatusKib("VmRSS");

  const BatchRun run = RunBatch(batch, batch.Setup());

  const long grownKib = StatusKib("VmHWM") - before;
  for (const Report& report : ExpectSoundEnd(run, listed))
    EXPECT_EQ(report.reason, "") << report.name;
  EXPECT_EQ(run.log, JoinLog(messages));
  EXPECT_EQ(run.last.percent, testing_support::Percent("100"));
  EXPECT_GE(run.pumps, kFiles) << "events were not pumped at every file";
  EXPECT_LT(run.seconds, 30.0);
  std::printf("10,000 files: %.2f s, %ld event pumps, peak memory +%ld KiB%s\n",
              run.seconds, run.pumps, grownKib,
              peakReset ? "" : " (peak not reset: measured from the start)");
  // The listing and its names take about 2 MB; the peak includes the
  // snapshots and Save Log of the run itself.
  if (peakReset && kPeakMeaningful) {
    EXPECT_LT(grownKib, 50 * 1024);
  }
}

}  // namespace
}  // namespace hostile
