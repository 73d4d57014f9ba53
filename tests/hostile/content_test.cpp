// MP3 files that are not what their names say, run through the real LAME:
// each is decoded or reported failed, and none is reported decoded while
// its WAV file is broken.
#include <random>

#include "gtest/gtest.h"
#include "tests/hostile/hostile_support.h"

namespace hostile {
namespace {

using testing_support::WriteTextFile;

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string Repeat(const std::string& unit, std::size_t times) {
  std::string bytes;
  for (std::size_t i = 0; i < times; ++i) bytes += unit;
  return bytes;
}

TEST(HostileContent, EachFileIsDecodedOrReportedFailed) {
  const std::string mp3 = ToneMp3(0.2);
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"empty.mp3", ""},
      {"random.mp3", RandomBytes(4096, 1)},
      {"header-cut.mp3", mp3.substr(0, 100)},
      {"half.mp3", mp3.substr(0, mp3.size() / 2)},
      {"text.mp3", "This is not an MP3 file.\r\n"},
      {"wave.mp3", ToneWav(0.2)},
      {"zeros.mp3", std::string(64 * 1024, '\0')},
      // An ID3v2 tag that claims 256 MB.
      {"huge-tag.mp3",
       std::string("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10) + mp3},
      // Frame headers with nothing behind them.
      {"sync-only.mp3", Repeat("\xff\xfb\x90\x64", 2048)},
  };
  BatchFixture batch;
  std::vector<std::string> listed;
  for (const auto& file : files) {
    WriteTextFile(batch.audio() / file.name, file.bytes);
    listed.push_back(file.name);
  }
  basFunctions::BatchSetup setup = batch.Setup();
  setup.decoderPath = kLame;

  const BatchRun run = RunBatch(batch, setup);

  const std::vector<Report> reports = ExpectSoundEnd(run, listed);
  EXPECT_EQ(reports.size(), listed.size());
  for (const Report& report : reports)
    std::printf("%-16s %s\n", report.name.c_str(),
                report.reason.empty() ? "decoded" : report.reason.c_str());
}

}  // namespace
}  // namespace hostile
