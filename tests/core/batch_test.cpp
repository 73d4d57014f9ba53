// Main end to end against the headless window and the stand-in decoder:
// what the window shows, the log, the names decoded and how the decoder is
// run.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "test_folder.h"

namespace {

using namespace testing_support;

const char kCompleted[] =
    "Larkspire Decompress utility has completed all actions.";
const char kFatal[] = "The Larkspire decompress utility cannot continue.";

// Checks that `status` reports a program that is not there, in the
// system's words, and returns it.
std::string ExpectFileNotFound(const std::string& status) {
  const std::string prefix = "Error 2: ";
  const std::string suffix = kFatal;
  const bool framed =
      status.size() > prefix.size() + suffix.size() &&
      status.compare(0, prefix.size(), prefix) == 0 &&
      status.compare(status.size() - suffix.size(), suffix.size(), suffix) == 0;
  EXPECT_TRUE(framed) << status;
  if (!framed) return status;
  const std::string text = status.substr(
      prefix.size(), status.size() - prefix.size() - suffix.size());
  if (OnWindows()) {
    // Wine words it differently from Windows.
    EXPECT_TRUE(text == "The system cannot find the file specified." ||
                text == "File not found.")
        << text;
  } else {
    EXPECT_EQ(text, "No such file or directory");
  }
  return status;
}

std::vector<std::string> ListedNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const platform::FileEntry& file : platform::ListFiles(folder))
    names.push_back(file.Name);
  return names;
}

class BatchTest : public ::testing::Test {
 protected:
  BatchFixture batch;
};

// ---- What the window shows --------------------------------------------------

TEST_F(BatchTest, WorkedExampleOfFourFiles) {
  batch.Add("a.mp3");
  batch.Add("b.exe", "the program's own executable");
  batch.Add("c.MP3");
  batch.Add("d.wav", "not decoded");
  ASSERT_EQ(ListedNames(batch.Folder()),
            (std::vector<std::string>{"a.mp3", "b.exe", "c.MP3", "d.wav"}))
      << "the example needs this listing order";

  const BatchResult result = batch.Run();

  const std::string audio = "Audio folder: " + batch.audio().string();
  const std::vector<Shown> expected = {
      {audio, kBlack, "Progress:", 0.0f},
      {"Decoding a.mp3...", kBlack, "Progress:", 0.0f},
      {batch.PathOf("a.mp3") + " decoding complete.", kBlack, Percent("25"),
       25.0f},
      {"Decoding c.MP3...", kBlack, Percent("25"), 25.0f},
      {batch.PathOf("c.MP3") + " decoding complete.", kBlack, Percent("75"),
       75.0f},
  };
  EXPECT_EQ(result.atPumps, expected);
  EXPECT_EQ(result.last, (Shown{kCompleted, kGreen, Percent("100"), 100.0f}));
  EXPECT_TRUE(fs::exists(batch.audio() / "a.wav"));
  EXPECT_TRUE(fs::exists(batch.audio() / "c.wav"));
  EXPECT_EQ(result.decoder.runs.size(), 2u);
}

TEST_F(BatchTest, ThirdsShowOneDecimal) {
  batch.Add("x.mp3");
  batch.Add("y.mp3");
  batch.Add("z.exe", "the program's own executable");
  ASSERT_EQ(ListedNames(batch.Folder()),
            (std::vector<std::string>{"x.mp3", "y.mp3", "z.exe"}));

  const BatchResult result = batch.Run();

  std::vector<std::string> captions;
  for (const Shown& shown : result.atPumps)
    if (captions.empty() || captions.back() != shown.percent)
      captions.push_back(shown.percent);
  EXPECT_EQ(captions, (std::vector<std::string>{"Progress:", Percent("33", "3"),
                                                Percent("66", "7")}));
  EXPECT_FLOAT_EQ(result.atPumps.back().bar, 200.0f / 3.0f);
  EXPECT_EQ(result.last.percent, Percent("100"));
  EXPECT_EQ(result.last.bar, 100.0f);
}

TEST(BatchLastFileTest, EndsTheLoopAtExactlyFull) {
  for (int n : {1, 2, 3, 6, 7, 11, 49, 97}) {
    BatchFixture batch;
    for (int i = 1; i < n; ++i) batch.Add("f" + std::to_string(1000 + i));
    batch.Add("z.mp3");

    const BatchResult result = batch.Run();

    float highest = 0.0f;
    for (const Shown& shown : result.atPumps)
      highest = std::max(highest, shown.bar);
    EXPECT_EQ(highest, 100.0f) << "N = " << n;
    // The last pump comes after the last file, before the end's messages.
    EXPECT_EQ(result.atPumps.back().percent, Percent("100")) << "N = " << n;
    EXPECT_EQ(result.last.status, kCompleted) << "N = " << n;
  }
}

TEST_F(BatchTest, LogTextByteForByte) {
  batch.Add("a.mp3");
  batch.Add("b.txt");
  batch.Add("c.mp3");

  const BatchResult result = batch.Run();

  EXPECT_EQ(result.log,
            "Audio folder: " + batch.audio().string() +
                "\r\nDecoding a.mp3...\r\n" + batch.PathOf("a.mp3") +
                " decoding complete.\r\nDecoding c.mp3...\r\n" +
                batch.PathOf("c.mp3") + " decoding complete.\r\n" + kCompleted);
  for (const Shown& shown : result.atPumps)
    EXPECT_EQ(shown.color, kBlack) << shown.status;
  EXPECT_EQ(result.last.color, kGreen);
}

TEST_F(BatchTest, NameTestTakesTheLastThreeCharacters) {
  batch.Add("SONG.MP3");
  batch.Add("Tune.Mp3");  // a name of its own: Windows folders ignore case
  batch.Add("demomp3");
  batch.Add("mp3");
  batch.Add("song.mp3.bak");
  fs::create_directory(batch.audio() / "sub");
  WriteTextFile(batch.audio() / "sub" / "x.mp3", "ok");

  const BatchResult result = batch.Run();

  std::vector<std::string> written;
  for (const DecoderRun& run : result.decoder.runs) {
    ASSERT_EQ(run.argv.size(), 4u);
    written.push_back(run.argv[3]);
  }
  std::sort(written.begin(), written.end());
  const std::string folder = batch.Folder() + platform::kPathSeparator;
  std::vector<std::string> expected = {folder + "SONG.wav", folder + "Tune.wav",
                                       folder + "demowav", folder + "wav"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(written, expected);
  for (const char* name : {"SONG.wav", "Tune.wav", "demowav", "wav"})
    EXPECT_TRUE(fs::exists(batch.audio() / name)) << name;
  EXPECT_FALSE(fs::exists(batch.audio() / "sub" / "x.wav"));
  // Five files are counted, the subfolder is not: every step is a fifth.
  const std::vector<std::string> fifths = {"Progress:",   Percent("20"),
                                           Percent("40"), Percent("60"),
                                           Percent("80"), Percent("100")};
  for (const Shown& shown : result.atPumps)
    EXPECT_NE(std::find(fifths.begin(), fifths.end(), shown.percent),
              fifths.end())
        << shown.percent;
  EXPECT_EQ(result.last.status, kCompleted);
}

// ---- Folders without work ---------------------------------------------------

TEST_F(BatchTest, MissingFolderGivesTwoLines) {
  WriteTextFile(batch.root() / "a-file", "");
  const std::string cases[] = {
      (batch.root() / "missing").string(), (batch.root() / "a-file").string(),
      "",  // a folder whose short path comes back empty
  };
  for (const std::string& folder : cases) {
    basFunctions::BatchSetup setup = batch.Setup();
    setup.applicationFolder = folder;

    const BatchResult result = batch.Run(setup);

    EXPECT_EQ(result.log, "Audio folder: " + folder +
                              "\r\nError: The folder could not be found.");
    EXPECT_EQ(result.last, (Shown{"Error: The folder could not be found.", kRed,
                                  "Progress:", 0.0f}));
  }
  EXPECT_TRUE(ReadDecoderLog(batch.LogPath()).runs.empty());
}

TEST(BatchNothingToDecodeTest, EndsGreenAndFull) {
  const std::vector<std::vector<std::string>> listings = {
      {}, {"larkspire_decompress"}, {"d.wav", "notes.txt"}};
  for (const auto& names : listings) {
    BatchFixture batch;
    for (const std::string& name : names) batch.Add(name);

    const BatchResult result = batch.Run();

    EXPECT_EQ(result.log,
              JoinLog({"Audio folder: " + batch.audio().string(), kCompleted}));
    EXPECT_EQ(result.last, (Shown{kCompleted, kGreen, Percent("100"), 100.0f}));
    for (const Shown& shown : result.atPumps) {
      EXPECT_EQ(shown.percent, "Progress:");
      EXPECT_EQ(shown.bar, 0.0f);
    }
  }
}

// ---- The decoder cannot be started
// -------------------------------------------

TEST_F(BatchTest, MissingDecoderStopsAtTheFirstMp3) {
  batch.Add("a.txt");
  batch.Add("b.mp3");
  batch.Add("c.mp3");
  basFunctions::BatchSetup setup = batch.Setup();
  setup.decoderPath = (batch.root() / "no-decoder").string();

  const BatchResult result = batch.Run(setup);

  const std::string error = ExpectFileNotFound(result.last.status);
  EXPECT_EQ(result.log, JoinLog({"Audio folder: " + batch.audio().string(),
                                 "Decoding b.mp3...", error}));
  EXPECT_EQ(result.last, (Shown{error, kRed, "Progress:", 0.0f}));
  EXPECT_TRUE(result.decoder.runs.empty());
}

TEST_F(BatchTest, DecoderGoneMidBatchKeepsTheLastProgress) {
  const fs::path standin = LARKSPIRE_STANDIN_DECODER;
  const fs::path decoder = batch.root() / standin.filename();
  fs::copy_file(standin, decoder);
  batch.Add("a.mp3");
  batch.Add("b.txt");
  batch.Add("c.mp3");
  batch.Add("d.mp3");
  basFunctions::BatchSetup setup = batch.Setup();
  setup.decoderPath = decoder.string();

  // Between files, after a.mp3's run has ended.
  const BatchResult result = batch.Run(setup, [&](frmMain& form) {
    if (form.lblStatus.Caption() ==
        batch.PathOf("a.mp3") + " decoding complete.")
      fs::remove(decoder);
  });

  const std::string error = ExpectFileNotFound(result.last.status);
  EXPECT_EQ(result.log, JoinLog({"Audio folder: " + batch.audio().string(),
                                 "Decoding a.mp3...",
                                 batch.PathOf("a.mp3") + " decoding complete.",
                                 "Decoding c.mp3...", error}));
  EXPECT_EQ(result.last, (Shown{error, kRed, Percent("25"), 25.0f}));
  EXPECT_EQ(result.decoder.runs.size(), 1u);
}

// ---- How the decoder is run
// ----------------------------------------------------

TEST_F(BatchTest, DecoderReceivesTheCommandLine) {
  const std::vector<std::string> names = {"My Song.mp3", "it's & $HOME #1.mp3",
                                          "-lead.mp3"};
  for (const std::string& name : names) batch.Add(name);

  const BatchResult result = batch.Run();

  ASSERT_EQ(result.decoder.runs.size(), names.size());
  EXPECT_EQ(result.decoder.overlaps, 0);
  const std::string decoder = LARKSPIRE_STANDIN_DECODER;
  for (const std::string& name : names) {
    const std::string mp3 = basFunctions::GetShortPath(batch.PathOf(name));
    const std::string wav = batch.Folder() + platform::kPathSeparator +
                            name.substr(0, name.size() - 3) + "wav";
    const auto run =
        std::find_if(result.decoder.runs.begin(), result.decoder.runs.end(),
                     [&](const DecoderRun& r) {
                       return r.argv.size() > 3 && r.argv[3] == wav;
                     });
    ASSERT_NE(run, result.decoder.runs.end()) << name;
    ASSERT_EQ(run->argv.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(run->argv.begin() + 1, run->argv.end()),
              (std::vector<std::string>{"--decode", mp3, wav}));
    if (OnWindows()) {
      EXPECT_EQ(run->commandLine,
                decoder + " --decode  " + mp3 + " \"" + wav + "\"");
    } else {
      EXPECT_EQ(run->argv[0], decoder);
    }
    EXPECT_TRUE(fs::exists(wav)) << wav;
  }
  EXPECT_EQ(result.last.status, kCompleted);
}

TEST_F(BatchTest, RunsOneDecoderAtATime) {
  for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "d.mp3"})
    batch.Add(name, "sleep 60");

  const BatchResult result = batch.Run();

  EXPECT_EQ(result.decoder.runs.size(), 4u);
  EXPECT_EQ(result.decoder.overlaps, 0);
  EXPECT_FALSE(fs::exists(batch.LogPath().string() + ".lock"));
  EXPECT_EQ(result.last.status, kCompleted);
}

TEST_F(BatchTest, DecoderFloodingItsOutputDoesNotBlock) {
  batch.Add("a.mp3", "flood 50000000");
  batch.Add("b.mp3");

  const BatchResult result = batch.Run();

  EXPECT_EQ(result.last.status, kCompleted);
  EXPECT_EQ(result.decoder.runs.size(), 2u);
  EXPECT_LT(result.seconds, 10.0);
}

// ---- The user closes the window
// ----------------------------------------------

TEST_F(BatchTest, ClosingDuringARunReturnsAtOnce) {
  batch.Add("a.mp3", "sleep 1500");
  batch.Add("b.mp3");
  const fs::path lock = batch.LogPath().string() + ".lock";
  std::string logAtClose;

  const BatchResult result = batch.Run(batch.Setup(), [&](frmMain& form) {
    if (logAtClose.empty() && fs::exists(lock)) {  // a.mp3's run is going
      logAtClose = form.txtLog.Text();
      platform::headless::Close();
    }
  });
  const bool wavAtReturn = fs::exists(batch.audio() / "a.wav");

  // Let the abandoned run finish before looking at what it did.
  for (int i = 0; i < 500 && fs::exists(lock); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  ASSERT_FALSE(logAtClose.empty()) << "the run was never seen going";
  EXPECT_LT(result.seconds, 1.2) << "Main waited for the run";
  EXPECT_FALSE(wavAtReturn) << "Main waited for the run";
  EXPECT_EQ(result.log, logAtClose);
  EXPECT_EQ(result.log, JoinLog({"Audio folder: " + batch.audio().string(),
                                 "Decoding a.mp3..."}));
  EXPECT_EQ(ReadDecoderLog(batch.LogPath()).runs.size(), 1u);
  EXPECT_FALSE(fs::exists(batch.audio() / "b.wav"));
  EXPECT_TRUE(fs::exists(batch.audio() / "a.wav")) << "the run was killed";
}

}  // namespace
