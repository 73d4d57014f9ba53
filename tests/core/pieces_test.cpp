// The batch's pure pieces as tables of literal cases (the name test, the
// WAV path, the command line, the WAV check, the progress arithmetic), and
// the Save Log handler against the headless controls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

#include "batch/basFunctions.h"
#include "batch/decoder.h"
#include "batch/progress.h"
#include "platform/headless/headless.h"
#include "tests/support/support.h"
#include "window/frmMain.h"

namespace basFunctions {
namespace {

// clang-format off
TEST(Pieces, NameTestAndWavPath) {
  const struct { const char *name; bool mp3; const char* wav; } cases[] = {
      {"song.mp3", true, "/m/song.wav"}, {"SONG.MP3", true, "/m/SONG.wav"},
      {"Song.mP3", true, "/m/Song.wav"}, {"demomp3", true, "/m/demowav"},
      {"mp3", true, "/m/wav"}, {"song.mp3.bak", false, "/m/song.mp3.wav"},
      {"song.mp3 ", false, "/m/song.mwav"}, {"mp", false, "/m/wav"}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsMp3Name(c.name), c.mp3) << c.name;
    EXPECT_EQ(WavPathFor("/m", '/', c.name), c.wav) << c.name;
  }
  // A root keeps its own separator, so the result doubles it.
  EXPECT_EQ(WavPathFor("C:\\", '\\', "My Song.mp3"), "C:\\\\My Song.wav");
}

// Windows takes these for devices in any folder, whatever follows the dot.
TEST(Pieces, DeviceNames) {
  for (const char* name : {"con.mp3", "AUX.wav", "Nul", "prn .mp3", "com1.x.mp3",
                           "LPT0.mp3", "com\xC2\xB3.mp3", "CONIN$.mp3", "conout$"})
    EXPECT_TRUE(IsDeviceName(name)) << name;
  for (const char* name : {"console.mp3", "com10.mp3", "lpt.mp3", "xaux.mp3",
                           "com\xC2\xB4.mp3", "nul_.mp3", "conin.mp3"})
    EXPECT_FALSE(IsDeviceName(name)) << name;
}
// clang-format on

// The argument vector shows in the batch rows.
TEST(Pieces, CommandLineHasTwoSpacesAndQuotesTheWav) {
  EXPECT_EQ(DecoderCommand("L", "A~1.MP3", "A B.wav").text,
            "L --decode  A~1.MP3 \"A B.wav\"");
  // A long path given back for want of 8.3 names is quoted too.
  EXPECT_EQ(DecoderCommand("L", "A B.mp3", "A B.wav").text,
            "L --decode  \"A B.mp3\" \"A B.wav\"");
}

// clang-format off
TEST(Pieces, Refusal) {
  using S = platform::FileState;
  const S mp3{S::kFile, 1, 7}, none{}, wav{S::kFile, 1, 8};
  const struct { S mp3, wav; const char *writtenFor, *reason; } cases[] = {
      {mp3, wav, "", ""}, {mp3, none, "a.MP3", ""},
      {none, none, "", "the MP3 file could not be found"},
      {{S::kOther, 1, 7}, none, "", "the MP3 file is not a file"},
      {mp3, {S::kOther, 1, 8}, "", "its WAV file name is taken by something that is not a file"},
      {mp3, {S::kFile, 1, 7}, "", "its WAV file would replace the MP3 itself"},
      {mp3, {S::kNone, 0, 0, true}, "", "its WAV file name is a link"},
      {mp3, {S::kFile, 1, 8, false, 2}, "", "its WAV file name is a link"},
      {mp3, {S::kFile, 1, 8, false, 1, true}, "", "its WAV file is read-only"},
      {mp3, wav, "a\nb.MP3", "its WAV file was already written for a\xEF\xBF\xBD" "b.MP3"}};
  for (const auto& c : cases)
    EXPECT_EQ(Refusal(c.mp3, c.wav, c.writtenFor), c.reason) << &c - cases;
}

// "\xC5\x9C" (Ŝ) stands for what the decoder cannot read.
TEST(Pieces, Route) {
  const auto reads = [](const std::string& s) { return s.find("\xC5\x9C") == s.npos; };
  const struct { const char *name, *shortMp3, *folder; bool devices; Route route; } cases[] = {
      {"a.mp3", "/m/a.mp3", "/m", true, Route::kDirect},
      {"a.mp3", "", "/m", true, Route::kStaged},
      {"con.mp3", "/m/con.mp3", "/m", true, Route::kStaged},
      {"con.mp3", "/m/con.mp3", "/m", false, Route::kDirect},
      {"\xC5\x9C.mp3", "/m/_~1.mp3", "/m", true, Route::kStaged},
      {"a.mp3", "/\xC5\x9C/a.mp3", "/m", true, Route::kStaged},
      {"a.mp3", "/m/a.mp3", "/\xC5\x9C", true, Route::kStaged}};
  for (const auto& c : cases)
    EXPECT_EQ(ChooseRoute(c.name, c.shortMp3, c.folder, +reads, c.devices), c.route)
        << &c - cases;
}

// Progress lines end in CR and backspaces; only the last real line counts.
TEST(Pieces, LastLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {" \n\t\n", ""}, {"a\nb\n", "b"}, {"  bad  \r\n", "bad"},
      {"x\rFrame 2/9 \b\b\rFrame 9/9 \b\b\n", "Frame 9/9"},
      {"a\x1b[0m\n", "a\xEF\xBF\xBD[0m"}};
  for (const auto& c : cases) EXPECT_EQ(LastLine(c.first), c.second) << c.first;
}

TEST(Pieces, Verdict) {
  using E = platform::ProcessExit;
  const struct { E exit; WavCheck output; const char* reason; } cases[] = {
      {{E::kExited, 0}, WavCheck::kComplete, ""},
      {{E::kExited, 0}, WavCheck::kMissing, "no WAV file was written"},
      {{E::kExited, 0}, WavCheck::kIncomplete, "the WAV file is incomplete"},
      {{E::kExited, 0}, WavCheck::kNoAudio, "the WAV file holds no audio"},
      {{E::kExited, 0}, WavCheck::kUnreadable, "the WAV file could not be read"},
      {{E::kExited, 1}, WavCheck::kComplete, "the decoder exited with code 1"},
      {{E::kSignaled, 9}, WavCheck::kComplete, "the decoder was stopped by signal 9"},
      {platform::ExitFromStatus(0xC0000005), WavCheck::kComplete, "the decoder crashed: 0xC0000005"},
      {platform::ExitFromStatus(0xC0000135), WavCheck::kComplete,
       "a DLL the decoder needs is missing: 0xC0000135"},
      {platform::ExitFromStatus(0xC000013A), WavCheck::kComplete,
       "the decoder was interrupted (Ctrl+C, or its console closed): 0xC000013A"},
      {platform::ExitFromStatus(0xE06D7363), WavCheck::kComplete,
       "the decoder failed on a C++ exception it did not handle: 0xE06D7363"},
      {platform::ExitFromStatus(0x80000003), WavCheck::kComplete,
       "the decoder stopped at a breakpoint: 0x80000003"},
      {platform::ExitFromStatus(0xFFFFFFFF), WavCheck::kComplete, "the decoder exited with code -1"},
      {platform::ExitFromStatus(0x40010005), WavCheck::kComplete,
       "the decoder exited with code 1073807365"}};
  for (const auto& c : cases)
    EXPECT_EQ(Verdict(c.exit, c.output), c.reason) << &c - cases;
}

// Only the names the program makes are its temporaries: a user's own
// files that look alike are left alone.
TEST(Pieces, TemporaryOwner) {
  const std::pair<const char*, long long> cases[] = {
      {"lsk7_1.mpg", 7}, {"lsk4294967295_4294967295.tmp", 4294967295LL},
      {"lsk7_0.mpg", -1}, {"lsk007_1.mpg", -1}, {"lsk7_01.tmp", -1},
      {"lsk4294967296_1.tmp", -1}, {"lsk9999999999_1.tmp", -1},
      {"LSK7_1.TMP", -1}, {"lsk7_1.mpg.bak", -1}, {"lsk7x_1.tmp", -1},
      {"lsk7_.tmp", -1}, {"lsk_1.tmp", -1}, {"lsk7_1.mp3", -1}, {"xyz7_1.tmp", -1}};
  for (const auto& c : cases) EXPECT_EQ(TemporaryOwner(c.first), c.second) << c.first;
  EXPECT_EQ(TemporaryOwner(TemporaryName(4294967295LL, 1, ".tmp")), 4294967295LL);
}

// The system's answers to a claim: only another holder refuses a folder,
// not a file system that cannot lock (NFS: ENOLCK, EBADF).
TEST(Pieces, OnlyAnotherHolderRefusesAFolder) {
  const std::pair<long, bool> posix[] = {{11, true}, {37, false}, {9, false}},
                              windows[] = {{183, true}, {5, true}, {1, false}};
  for (const auto& c : support::OnWindows() ? windows : posix)
    EXPECT_EQ(platform::ClaimedByAnother(c.first), c.second) << c.first;
}

// Index 0, as some network shares report for every file, is no identity,
// nor all ones, ReFS's "no unique ID".
// ReFS's IDs take 128 bits: two files may share the low 64.
TEST(Pieces, SameFileNeedsAKnownIndex) {
  using S = platform::FileState;
  const auto id = [](std::uint64_t low, std::uint64_t high) {
    S s{S::kFile, 1, low};
    s.indexHigh = high;
    return s;
  };
  EXPECT_TRUE(id(7, 0).SameFileAs(id(7, 0)));
  EXPECT_TRUE(id(0, 7).SameFileAs(id(0, 7)));
  EXPECT_FALSE(id(7, 1).SameFileAs(id(7, 2)));
  for (const S& none : {id(0, 0), id(~0ull, 0), id(~0ull, ~0ull)})
    EXPECT_FALSE(none.SameFileAs(none));
}

// The outer job's limits as Windows reports them: only one that allows a
// breakaway, and does not make it silently, asks for one.
TEST(Pieces, JobBreakaway) {
  const struct { bool inJob; std::uint32_t limits, flags; } cases[] = {
      {false, 0, 0}, {true, 0, 0}, {true, 0x800, 0x01000000},
      {true, 0x1000, 0}, {true, 0x1800, 0}, {false, 0x800, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(platform::JobBreakaway(c.inJob, c.limits), c.flags) << &c - cases;
}

// clang-format on

// A launcher's ignored SIGCHLD would lose every decoder's exit status, and
// a drive without its medium would raise a box that holds the batch.
TEST(Pieces, PrepareProcessPutsBackWhatALauncherChanged) {
#ifdef _WIN32
  ::SetErrorMode(0);
  platform::PrepareProcess();
  EXPECT_EQ(::SetErrorMode(0) & SEM_FAILCRITICALERRORS, SEM_FAILCRITICALERRORS);
#else
  std::signal(SIGCHLD, SIG_IGN);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  platform::PrepareProcess();
  EXPECT_EQ(std::signal(SIGCHLD, SIG_DFL), SIG_DFL);
  sigprocmask(SIG_BLOCK, nullptr, &blocked);
  EXPECT_FALSE(sigismember(&blocked, SIGTERM));
#endif
}

// Tags as Windows reports them: only a symbolic link or a junction leads
// elsewhere, not a OneDrive placeholder, a deduplicated or compressed file
// or an app execution alias.
TEST(Pieces, OnlyNameSurrogatesAreLinks) {
  const struct {
    std::uint32_t tag;
    bool link;
  } cases[] = {{0x9000601A, false}, {0x80000013, false}, {0x80000017, false},
               {0x8000001B, false}, {0xA000000C, true},  {0xA0000003, true}};
  for (const auto& c : cases)
    EXPECT_EQ(platform::ReparseTagIsLink(c.tag), c.link) << std::hex << c.tag;
}

std::string Le32(std::uint32_t v) {
  std::string b;
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  return b;
}
std::string Chunk(const std::string& id, std::uint32_t size) {
  return id + Le32(size) + std::string(size + (size & 1), 'x');
}
std::string Riff(const std::string& chunks, std::uint32_t extra = 0) {
  return "RIFF" + Le32(4 + chunks.size() + extra) + "WAVE" + chunks;
}

TEST(Pieces, WavCheck) {
  const std::string fmt = Chunk("fmt ", 16), data = Chunk("data", 100);
  constexpr WavCheck kComplete = WavCheck::kComplete,
                     kIncomplete = WavCheck::kIncomplete,
                     kNoAudio = WavCheck::kNoAudio;
  const struct {
    std::string head;
    long long sizeDelta;  // the file's size beside head.size()
    WavCheck expected;
  } cases[] = {
      {Riff(fmt + data), 0, kComplete},
      {Riff(fmt + data), 10, kComplete},                    // trailing bytes
      {Riff(Chunk("LIST", 5) + fmt + data), 0, kComplete},  // odd chunk first
      {Riff(fmt + data), -1, kIncomplete},                  // data cut short
      {Riff(fmt + data, 2), 1, kIncomplete},  // RIFF size beyond the file
      {Riff(fmt), 0, kIncomplete},            // no data chunk
      {"RIFX" + Riff(fmt + data).substr(4), 0, kIncomplete},
      {Riff(fmt + data).replace(8, 4, "AVI "), 0, kIncomplete},
      {Riff("").substr(0, 11), 0, kIncomplete},  // shorter than a header
      {Riff(fmt + "data" + Le32(0)), 0, kNoAudio},
      {"", 0, WavCheck::kMissing},  // the decoder wrote nothing
      // Where size_t has 32 bits, stepping past a chunk of nearly 4 GiB
      // wraps back to the start and loops for ever.
      {Riff("JUNK" + Le32(0xFFFFFFF8u)), 0, kIncomplete},
      {Riff("JUNK" + Le32(0xFFFFFFFFu)), 0, kIncomplete},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckWavHeader(c.head, c.head.size() + c.sizeDelta), c.expected)
        << &c - cases;
}

// The k-th of n files shows 3k x step: where that falls on a tie between two
// tenths, the label is the one the double-precision product rounds to, on
// the Windows build too, whose x87 unit would otherwise round it wider.
double Shown(std::int32_t k, std::int32_t files) {
  return 3 * k * ProgressStep(files);
}

// clang-format off
TEST(Pieces, PercentCaptionRoundsHalfToEvenInShortestForm) {
  const struct { double value; const char* separator; const char* caption; } cases[] = {
      {25.0, ".", "Progress: 25%"}, {0.0, ".", "Progress: 0%"},
      {100.0 / 3, ".", "Progress: 33.3%"}, {200.0 / 3, ",", "Progress: 66,7%"},
      {12.25, ".", "Progress: 12.2%"}, {12.75, ".", "Progress: 12.8%"},
      {0.25, ".", "Progress: 0.2%"}, {99.96, ".", "Progress: 100%"},
      {-0.25, ".", "Progress: -0.2%"}, {Shown(1, 16), ".", "Progress: 6.2%"},
      {Shown(5, 16), ".", "Progress: 31.3%"}, {Shown(3, 48), ".", "Progress: 6.3%"},
      {Shown(35, 112), ".", "Progress: 31.2%"}, {Shown(117, 144), ".", "Progress: 81.2%"},
      {Shown(1, 80), ".", "Progress: 1.2%"}};
  for (const auto& c : cases)
    EXPECT_EQ(PercentCaption(c.value, c.separator), c.caption) << c.value;
}
// clang-format on

TEST(Pieces, BarReachesExactlyFullAtTheLastFileOfAnyCount) {
  EXPECT_EQ(ProgressStep(0), 0.0);
  EXPECT_EQ(BarValue(7, ProgressStep(4)), 58.333332f);
  for (std::int32_t n = 1; n <= 100000; ++n)
    ASSERT_EQ(BarValue(3 * n, ProgressStep(n)), 100.0f) << n;
}

// Looking at a name writes nothing into its folder, even where nothing is
// there: sync clients and Controlled Folder Access see every file made.
TEST(Pieces, LookingWritesNothing) {
  support::TempFolder folder;
  const auto before = support::fs::last_write_time(folder.path());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  platform::StatFile((folder.path() / "free.wav").u8string());
  EXPECT_EQ(support::fs::last_write_time(folder.path()), before);
}

}  // namespace
}  // namespace basFunctions

namespace {

using namespace support;
namespace headless = platform::headless;

std::string TodaysName() {
  const std::time_t now = std::time(nullptr);
  char name[64];
  std::strftime(name, sizeof name, "larkspireRepoLog_%Y%m%d.txt",
                std::localtime(&now));
  return name;
}

// Each press offers the same settings; the chosen file gets the log byte for
// byte, or an error box says why not and nothing is left behind. A file
// that is replaced keeps its permissions; a link is written through, to its
// target, and stays.
// clang-format off
// Where the save dialog starts: with the offered file's full path and no
// initial folder, which Windows 7 and later would trade for the last one
// used; a path too long to open by goes by the folder.
TEST(Window, SaveDialogStart) {
  const std::string m = "m", log = "m" + std::string(1, platform::kPathSeparator) + "l.txt";
  const struct { std::string folder, name; std::size_t longest; platform::SaveStart start; }
      cases[] = {{m, "l.txt", 260, {"", log}}, {m, "l.txt", 7, {m, "l.txt"}},
                 {"", "l.txt", 260, {"", "l.txt"}}, {m, "C:\\x", 260, {"", "C:\\x"}}};
  for (const auto& c : cases) {
    const platform::SaveStart start = platform::SaveDialogStart(c.folder, c.name, c.longest);
    EXPECT_EQ(start.initialFolder + "|" + start.file,
              c.start.initialFolder + "|" + c.start.file) << c.name << c.longest;
  }
}
// clang-format on

TEST(Window, SaveLog) {
  TempFolder folder;
  const fs::path file = folder.path() / "log.txt", link = folder.path() / "ln",
                 locked = folder.path() / "ro", taken = folder.path() / "taken";
  fs::create_directory(taken);
  WriteFile(file, "old");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  if (!OnWindows()) fs::create_symlink(file, link);
  WriteFile(locked, "kept");
  fs::permissions(locked, fs::perms::owner_read);  // read-only, for root too
  // The answer ("": cancel), and whether the save fails. Root can write
  // anywhere but in /proc, and CI runs as root.
  const std::pair<std::string, bool> cases[] = {
      {file.string(), false},
      {OnWindows() ? "" : link.string(), false},
      {locked.string(), true},
      {"", false},
      {taken.string(), true},
      {(folder.path() / "no" / "x.txt").string(), true},
      {OnWindows() ? "" : "/proc/log.txt", !OnWindows()}};
  frmMain form;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    headless::Reset();
    ShowStatus(form, "line", 0, 0, 0);
    const std::string log = form.txtLog.Text();
    headless::SetSaveResponder([&](const platform::CommonDialog& d) {
      EXPECT_EQ(d.DefaultExt + d.DialogTitle + d.FileName,
                "txtSave Logfile" + TodaysName());
      EXPECT_EQ(d.InitDir, platform::ApplicationFolder());
      EXPECT_TRUE(d.CancelError);
      return c.first;
    });
    form.cmdSave.Click();
    const auto errors = headless::ShownErrors();
    const std::string why =
        "Save Logfile|The log could not be saved to " + c.first + ": ";
    ASSERT_EQ(errors.size(), c.second ? 1u : 0u);
    if (c.second) {
      EXPECT_EQ(errors[0].substr(0, why.size()), why);
      EXPECT_GT(errors[0].size(), why.size()) << "no reason given";
    } else if (!c.first.empty()) {
      EXPECT_EQ(ReadFile(c.first), log);
    }
    EXPECT_EQ(form.txtLog.Text(), log);
  }
  EXPECT_EQ(ReadFile(locked), "kept");
  EXPECT_TRUE(OnWindows() || fs::is_symlink(link));
  EXPECT_TRUE(OnWindows() ||
              fs::status(file).permissions() ==
                  (fs::perms::owner_read | fs::perms::owner_write));
  EXPECT_EQ(Listing(folder.path()).size(), OnWindows() ? 3u : 4u);
  EXPECT_TRUE(fs::is_empty(taken));
  // Any other failure gets the error box too, and none leaves the click.
  headless::Reset();
  headless::SetSaveResponder([](const platform::CommonDialog&) -> std::string {
    throw std::bad_alloc();
  });
  form.cmdSave.Click();
  EXPECT_EQ(headless::ShownErrors().size(), 1u);
  form.cmdSave.OnClick([] { throw 1; });
  EXPECT_NO_THROW(form.cmdSave.Click());
}

}  // namespace
