// Decoder runs that fail: each is reported in red with its reason, counts
// for progress like any other file, and turns the end's message red.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "test_folder.h"

namespace {

using namespace testing_support;

const char kCompleted[] =
    "Larkspire Decompress utility has completed all actions.";

struct FileCase {
  std::string name;
  std::string directive;
  std::string reason;  // empty: decoded
};

// Runs a folder of the given MP3s, in listing order, and checks the log,
// the colour of each file's report and the progress after each file.
void ExpectReports(const std::vector<FileCase>& files, int failures) {
  BatchFixture batch;
  for (const FileCase& file : files) batch.Add(file.name, file.directive);

  const BatchResult result = batch.Run();

  std::vector<std::string> log = {"Audio folder: " + batch.audio().string()};
  std::vector<Shown> reports;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileCase& file = files[i];
    const std::string path = batch.PathOf(file.name);
    const bool failed = !file.reason.empty();
    log.push_back("Decoding " + file.name + "...");
    log.push_back(failed ? path + " decoding failed (" + file.reason + ")."
                         : path + " decoding complete.");
    const float bar = 100.0f * (i + 1) / files.size();
    reports.push_back({log.back(), failed ? kRed : kBlack, "", bar});
  }
  const std::string end =
      std::string(kCompleted) + " " + std::to_string(failures) + " of " +
      std::to_string(files.size()) + " MP3 files could not be decoded.";
  log.push_back(end);
  EXPECT_EQ(result.log, JoinLog(log));
  EXPECT_EQ(result.last, (Shown{end, kRed, Percent("100"), 100.0f}));

  // Each file's report is on show from its end to the next file's start.
  std::vector<Shown> seen;
  for (Shown shown : result.atPumps) {
    if (shown.status.rfind("Decoding ", 0) == 0 ||
        shown.status.rfind("Audio folder", 0) == 0)
      continue;
    shown.percent.clear();
    seen.push_back(shown);
  }
  ASSERT_EQ(seen.size(), reports.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].status, reports[i].status);
    EXPECT_EQ(seen[i].color, reports[i].color) << seen[i].status;
    EXPECT_FLOAT_EQ(seen[i].bar, reports[i].bar) << seen[i].status;
  }
}

TEST(DecodeFailureTest, EachReasonIsReportedAndTheBatchGoesOn) {
  ExpectReports(
      {
          {"a.mp3", "ok", ""},
          {"b.mp3", "exit 3", "the decoder exited with code 3"},
          {"c.mp3", "nowav", "no WAV file was written"},
          {"d.mp3", "shortwav", "the WAV file is incomplete"},
          {"e.mp3", "exit 255", "the decoder exited with code 255"},
      },
      4);
}

TEST(DecodeFailureTest, SignalIsReported) {
  if (OnWindows()) GTEST_SKIP() << "no signals on Windows";
  ExpectReports(
      {
          {"a.mp3", "signal 9", "the decoder was stopped by signal 9"},
          {"b.mp3", "ok", ""},
      },
      1);
}

TEST(DecodeFailureTest, UnresolvableShortPathIsNotHandedToTheDecoder) {
  BatchFixture batch;
  batch.Add("a.mp3");
  batch.Add("b.mp3");
  // b.mp3 is listed, then goes before its turn: its short path fails.
  const BatchResult result = batch.Run(
      batch.Setup(), [&](frmMain&) { fs::remove(batch.audio() / "b.mp3"); });

  const std::string failed = batch.PathOf("b.mp3") +
                             " decoding failed (its short path could not be "
                             "resolved).";
  EXPECT_EQ(
      result.log,
      JoinLog({"Audio folder: " + batch.audio().string(), "Decoding a.mp3...",
               batch.PathOf("a.mp3") + " decoding complete.",
               "Decoding b.mp3...", failed,
               std::string(kCompleted) +
                   " 1 of 2 MP3 files could not be decoded."}));
  ASSERT_EQ(result.decoder.runs.size(), 1u);
  EXPECT_EQ(result.decoder.runs[0].argv.size(), 4u);
  EXPECT_EQ(result.last.percent, Percent("100"));
}

TEST(DecodeFailureTest, Mp3PathLongerThanTheBufferIsNotDecoded) {
  if (OnWindows()) GTEST_SKIP() << "the short form of a long path is shorter";
  BatchFixture batch;
  const fs::path folder = MakeFolderOfLength(batch.root(), 480);
  const std::string name = std::string(40, 's') + ".mp3";  // path > 511
  WriteTextFile(folder / name, "ok");
  basFunctions::BatchSetup setup = batch.Setup();
  setup.applicationFolder = folder.string();

  const BatchResult result = batch.Run(setup);

  EXPECT_EQ(result.last.status, std::string(kCompleted) +
                                    " 1 of 1 MP3 files could not be decoded.");
  EXPECT_NE(result.log.find(" decoding failed (its short path could not be "
                            "resolved)."),
            std::string::npos);
  EXPECT_TRUE(result.decoder.runs.empty());
}

}  // namespace
