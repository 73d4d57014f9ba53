// The batch end to end against the headless window: one table of folders,
// decoder behaviours and the log each must give, checked by one oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "batch/basFunctions.h"
#include "platform/headless/headless.h"
#include "tests/support/support.h"
#include "window/frmMain.h"

#ifdef _WIN32
extern "C" __declspec(dllimport) unsigned long __stdcall GetCurrentProcessId();
#else
#include <unistd.h>
#endif

namespace {

using namespace support;
using platform::Rgb;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

const std::string kDone =
    "Larkspire Decompress utility has completed all actions.";
const std::string kFatal = "The Larkspire decompress utility cannot continue.";

// A file's content is the stand-in's directives, or one of these makers;
// "<link to NAME>" makes a symbolic link, "<hard link to NAME>" a hard one.
const char kFifo[] = "<fifo>", kDir[] = "<dir>", kWav[] = "<complete WAV>",
           kWavOfTheSize[] = "<complete WAV the stand-in's size>",
           kReadOnlyWav[] = "<read-only WAV>", kProgram[] = "<executable text>",
           kInUse[] = "<open in another program>";

// Where the audio folder is: a plain folder, none, one whose name ends in a
// space beside a sibling without, one given with spaces around it, one of
// 4000 characters (far beyond Windows' 512), or that given with 100 spaces
// after it (beyond the system's limit).
enum Folder { kPlain, kMissing, kSpace, kPadded, kLong, kBeyond };

// What a row asks beyond its folder. kNoShortNames: the system's answers
// of a volume without 8.3 names (a path of MAX_PATH, 260, or more has no
// short form, nor has the folder) in a folder that refuses the temporary
// names of MP3s whose names start with "r", as a folder the user cannot
// write does, and has no room for those of names that start with "f".
enum Flag : unsigned {
  kPosixOnly = 1,
  kWindowsOnly = 2,
  kStaged = 4,  // the decoder reads no name: temporary names
  kNoShortNames = 8,
  kCloseMidRun = 16,    // the user closes the window while a decoder writes
  kCloseAfterRun = 32,  // ... as the first run ends on its own
  kBusy = 64,           // another program works in the folder
  kSealed = 128,        // no file can be made in it, even by root
  kStuck = 256,         // a temporary output that cannot be removed
  kEndMidRun = 512,     // the session ends while a decoder writes
};

std::uint32_t NoShortNames(const std::string& path, char* buffer,
                           std::uint32_t length) {
  // Nor has the folder, whose parent the user may not list.
  if (path.size() >= 260 || platform::FolderExists(path) ||
      !fs::exists(fs::u8path(path)))
    return 0;
  if (path.size() >= length) return path.size() + 1;
  return path.copy(buffer, length), buffer[path.size()] = '\0', path.size();
}

bool RefusesR(const std::string& path, const std::string& source,
              const std::function<bool()>& between) {
  const std::string name = fs::u8path(source).filename().string() + " ";
  if (name[0] == 'r') throw platform::Error(OnWindows() ? 5 : 13, "Denied");
  if (name[0] == 'f') throw platform::Error(28, "No space left on device");
  return platform::MakeNewFile(path, source, between);
}

// The decoder's output made a folder, which no file removal takes, as none
// takes a file another program holds.
bool Stuck(const std::string& path, const std::string& source,
           const std::function<bool()>& between) {
  if (!source.empty()) return platform::MakeNewFile(path, source, between);
  return fs::create_directories(fs::u8path(path) / "in use");
}

// A name with "$$" in it holds this process's number: one that runs.
std::string Named(std::string name) {
#ifdef _WIN32
  const auto own = GetCurrentProcessId();
#else
  const auto own = ::getpid();
#endif
  const auto at = name.find("$$");
  return at == std::string::npos ? name
                                 : name.replace(at, 2, std::to_string(own));
}

struct Row {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  Lines log;  // after the "Audio folder" line
  // The files the batch adds to the folder; "-NAME" one it lost, "~NAME"
  // one it changed. Every other file keeps its bytes.
  Lines made;
  Folder folder = kPlain;
  unsigned flags = 0;
  const char* decoder = nullptr;  // a name in the folder, not the stand-in
  bool Has(unsigned flag) const { return (flags & flag) != 0; }
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// This process's children, as Linux lists them; "" elsewhere.
std::string Children() {
  std::string all;
  std::error_code none;
  for (const auto& task : fs::directory_iterator("/proc/self/task", none))
    all += ReadFile(task.path() / "children");
  return all;
}

void Make(const fs::path& file, const std::string& content) {
  if (content == kDir) return fs::create_directory(file), void();
  if (content == kFifo)
    return void(std::system(("mkfifo '" + file.string() + "'").c_str()));
  if (content.rfind("<link to ", 0) == 0)
    return fs::create_symlink(content.substr(9, content.size() - 10), file);
  if (content.rfind("<hard link to ", 0) == 0)
    return fs::create_hard_link(
        file.parent_path() / content.substr(14, content.size() - 15), file);
  const bool wav = content == kWav || content == kReadOnlyWav;
  WriteFile(file,
            wav ? std::string("RIFF\x0e\0\0\0WAVEdata\x02\0\0\0xx", 22)
            : content == kWavOfTheSize
                ? std::string("RIFF\x64\x06\0\0WAVEdata\x58\x06\0\0", 20) +
                      std::string(1624, 'x')
                : content);
  if (content == kProgram)
    fs::permissions(file, fs::perms::owner_exec, fs::perm_options::add);
  if (content == kReadOnlyWav)
    fs::permissions(file,
                    fs::perms::owner_write | fs::perms::group_write |
                        fs::perms::others_write,
                    fs::perm_options::remove);
}

fs::path AudioFolder(Folder folder, const fs::path& root) {
  if (folder == kLong || folder == kBeyond) {
    fs::path part = root;
    while (part.string().size() < 3790) part /= std::string(200, 'l');
    return part / std::string(3999 - part.string().size(), 'l');
  }
  if (folder != kSpace) return root / "audio";
  fs::create_directories(root / "audio");
  Make(root / "audio" / "sibling.mp3", "ok");
  return root / "audio ";
}

// The log: the folder as given, then the row's lines, where "NAME|" stands
// for an MP3's two lines when it decodes, "NAME|REASON" when it fails, "#"
// for the folder as the batch names it and "@" as it was given.
std::string Expected(const Lines& lines, const std::string& given,
                     const std::string& folder) {
  std::string text = "Audio folder: " + given;
  for (std::string line : lines) {
    line = Named(line);
    const auto bar = line.find('|'), mark = line.find('#');
    if (mark != std::string::npos) line.replace(mark, 1, folder);
    if (line.find('@') != std::string::npos)
      line.replace(line.find('@'), 1, given);
    const std::string name = line.substr(0, bar), why = line.substr(bar + 1);
    text += "\r\n" + (bar == std::string::npos
                          ? line
                          : "Decoding " + name + "...\r\n" + folder +
                                platform::kPathSeparator + name);
    if (bar != std::string::npos)
      text += why.empty() ? " decoding complete."
                          : " decoding failed (" + why + ").";
  }
  return text;
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::headless::Reset();
    // putenv keeps the buffer itself, so it must outlive every later test.
    static char variable[4096];
    std::snprintf(variable, sizeof variable, "STANDIN_LOG=%s",
                  (root.path() / "standin.log").string().c_str());
    ::putenv(variable);
  }
  // Closes the window, or ends the session, half a second into the
  // decoder's run (its second pump), noting what the folder holds the
  // moment that returns; or closes it as the first run has written its
  // output and ended on its own but is not yet reaped.
  void CloseMidRun(const fs::path& audio, bool session) {
    platform::headless::SetPumpHook([=, seen = 0]() mutable {
      if (!fs::exists(root.path() / "standin.log") || ++seen != 2) return;
      session ? platform::headless::EndSession() : platform::headless::Close();
      asEnded = Listing(audio);
    });
  }
  void CloseAfterRun(const fs::path& audio) {
    platform::headless::SetPumpHook([audio] {
      if (platform::headless::PumpCount() != 2) return;
      const auto written = [&] {
        for (const auto& file : fs::directory_iterator(audio))
          if (fs::file_size(file) == 44 + 1600) return true;
        return false;
      };
      for (int i = 0; i < 1000 && !written(); ++i)
        std::this_thread::sleep_for(milliseconds(10));
      std::this_thread::sleep_for(milliseconds(300));
      platform::headless::Close();
    });
  }
  void Check(const Row& row);
  TempFolder root;
  Lines asEnded;
};

// A batch that ends shows 100% in green, or in red when a file failed; one
// that stops shows its error in red where the progress stood.
void BatchTest::Check(const Row& row) {
  SCOPED_TRACE(row.name);
  static int rows = 0;  // each row in a folder of its own
  const fs::path audio =
      AudioFolder(row.folder, root.path() / std::to_string(++rows));
  fs::create_directories(audio);
  Lines left;
  std::map<std::string, std::string> kept;  // name: bytes
  std::vector<platform::FileInUse> marks;
  for (const auto& [name, content] : row.files) {
    const fs::path file = audio / fs::u8path(Named(name));
    Make(file, content);
    if (content == kInUse) marks.emplace_back(file.u8string());
    left.push_back(Named(name));
    if (fs::is_regular_file(fs::symlink_status(file)))
      kept[Named(name)] = ReadFile(file);
  }
  for (const std::string& name : row.made)
    if (name[0] == '-' || name[0] == '~') kept.erase(name.substr(1));
  for (const std::string& name : row.made)
    if (name[0] == '-')
      left.erase(std::find(left.begin(), left.end(), name.substr(1)));
    else if (name[0] != '~')
      left.push_back(Named(name));
  std::sort(left.begin(), left.end());
  if (row.folder == kMissing) fs::remove(audio);
  std::string given = audio.u8string();
  if (row.folder == kPadded) given = "  " + given + "  ";
  if (row.folder == kBeyond) given += std::string(100, ' ');
  frmMain form;
  basFunctions::BatchSetup setup{
      given,
      {row.decoder ? (audio / row.decoder).u8string() : STANDIN_DECODER},
      platform::kPathSeparator};
  if (row.Has(kStaged))
    setup.decoderReads = [](const std::string&) { return false; };
  if (row.Has(kNoShortNames)) setup.shortPathName = NoShortNames;
  if (row.Has(kNoShortNames)) setup.makeNewFile = RefusesR;
  if (row.Has(kStuck)) setup.makeNewFile = Stuck;
  std::string folder = basFunctions::GetShortPath(given, setup.shortPathName);
  if (folder.empty() && platform::FolderExists(given)) folder = given;
  std::optional<platform::FolderClaim> other;
  if (row.Has(kBusy)) other.emplace(folder);
  std::string sealed = "chattr +i '" + audio.string() + "'";
  if (row.Has(kSealed)) std::system(sealed.c_str());
  if (row.Has(kCloseMidRun | kEndMidRun))
    CloseMidRun(audio, row.Has(kEndMidRun));
  if (row.Has(kCloseAfterRun)) CloseAfterRun(audio);
  basFunctions::Main(form, setup);
  if (row.Has(kSealed)) std::system(sealed.replace(7, 1, "-").c_str());
  // A decoder left running would write its WAV file meanwhile.
  if (row.Has(kCloseMidRun | kEndMidRun))
    std::this_thread::sleep_for(milliseconds(1500));

  const std::string last = row.log.back(),
                    text = Expected(row.log, given, folder);
  EXPECT_EQ(form.txtLog.Text(), text);
  EXPECT_EQ(form.lblStatus.Caption(), text.substr(text.rfind("\r\n") + 2));
  if (row.folder != kMissing) {
    EXPECT_EQ(Listing(audio), left);
    for (const auto& [name, bytes] : kept) {
      if (fs::is_regular_file(audio / fs::u8path(name))) {
        EXPECT_EQ(ReadFile(audio / fs::u8path(name)), bytes) << name;
      }
    }
  }
  if (row.Has(kEndMidRun)) {
    EXPECT_EQ(asEnded, left) << "as logoff returned";
  }
  EXPECT_EQ(Children(), "") << "neither running nor a zombie";
  if (form.Closed()) return;
  const bool ended = last.rfind(kDone, 0) == 0 || other;
  EXPECT_EQ(form.lblStatus.ForeColor(),
            last == kDone ? (Rgb{0, 128, 0}) : (Rgb{255, 0, 0}));
  EXPECT_EQ(form.lblPercent.Caption(), ended ? "Progress: 100%" : "Progress:");
  EXPECT_EQ(form.pbProgress.Value(), ended ? 100 : 0);
}

// clang-format off
const Row kRows[] = {
    // Only a checked output replaces a WAV file, one of the same size
    // written in the same second included; a failed run leaves it as it was.
    {"FailuresAreReportedAndTheBatchGoesOn",
     {{"a.mp3", "remove e.mp3\nsay Bad\rframe 1/2\b\b \nexit 3"},
      {"a.wav", kWavOfTheSize},
      {"b.mp3", "nowav"}, {"c.mp3", "shortwav"}, {"d.mp3", "ok"},
      {"d.wav", kWavOfTheSize}, {"e.mp3", "ok"}},
     {"a.mp3|the decoder exited with code 3: frame 1/2",
      "b.mp3|no WAV file was written", "c.mp3|the WAV file is incomplete",
      "d.mp3|",
      "e.mp3|the MP3 file could not be found",
      kDone + " 4 of 5 MP3 files could not be decoded."},
     {"~d.wav", "-e.mp3"}},
    {"DecoderStoppedBySignal",
     {{"a.mp3", "signal 9"}, {"b.mp3", "sleep 20\nsignal 15"}},
     {"a.mp3|the decoder was stopped by signal 9",
      "b.mp3|the decoder was stopped by signal 15",
      kDone + " 2 of 2 MP3 files could not be decoded."},
     {}, kPlain, kPosixOnly},
    {"NothingToDecode", {{"notes.txt", ""}},
     {"No MP3 file was found in @.", kDone}, {}},
    {"EmptyFolder", {}, {"No MP3 file was found in @.", kDone}, {}},
    {"MissingFolder", {}, {"Error: The folder could not be found."}, {},
     kMissing},
    {"FolderEndingInSpaceIsNotItsSibling", {{"own.mp3", "ok"}},
     {"own.mp3|", kDone}, {"own.wav"}, kSpace, kPosixOnly},
    {"Mp3PathAtTheSystemsLimit", {{std::string(90, 'a') + ".mp3", "ok"}},
     {std::string(90, 'a') + ".mp3|", kDone}, {std::string(90, 'a') + ".wav"},
     kLong, kPosixOnly},
    {"FolderTooLongToNameIsNotItsTrimmedSibling", {{"sibling.mp3", "ok"}},
     {"Error: The folder could not be found."}, {}, kBeyond, kPosixOnly},
    {"FolderGivenWithSpacesAround", {{"a.mp3", "ok"}}, {"a.mp3|", kDone},
     {"a.wav"}, kPadded},
    {"OnlyFilesAndLinksToThemAtTheirTurn",
     {{"fifo.mp3", kFifo}, {"t.txt", "fifo z.mp3"}, {"z.mp3", "ok"},
      {"link.mp3", "<link to t.txt>"}, {"broken.mp3", "<link to nothing>"},
      {"sub.mp3", kDir}},
     {"link.mp3|", "z.mp3|the MP3 file is not a file",
      kDone + " 1 of 2 MP3 files could not be decoded."},
     {"link.wav"}, kPlain, kPosixOnly},
    {"WavNotWrittenOrWithoutAudioIsNoResult",
     {{"b.mp3", "nowav"}, {"b.wav", kWav}, {"c.mp3", "nosamples"}},
     {"b.mp3|no WAV file was written", "c.mp3|the WAV file holds no audio",
      kDone + " 2 of 2 MP3 files could not be decoded."},
     {}},
    {"WavNameTakenByMp3OtherWavFifoOrLink",
     {{"a.MP3", "ok"}, {"a.mp3", "ok"}, {"f.mp3", "ok"}, {"f.wav", kFifo},
      {"l.mp3", "ok"}, {"l.wav", "<link to ../outside.wav>"},
      {"self.mp3", "ok"}, {"self.wav", "<link to self.mp3>"}},
     {"a.MP3|", "a.mp3|its WAV file was already written for a.MP3",
      "f.mp3|its WAV file name is taken by something that is not a file",
      "l.mp3|its WAV file name is a link",
      "self.mp3|its WAV file would replace the MP3 itself",
      kDone + " 4 of 5 MP3 files could not be decoded."},
     {"a.wav"}, kPlain, kPosixOnly},
    {"WavNameWithSecondHardLinkNotWrittenThrough",
     {{"notes.txt", "notes"}, {"h.mp3", "ok"},
      {"h.wav", "<hard link to notes.txt>"}},
     {"h.mp3|its WAV file name is a link",
      kDone + " 1 of 1 MP3 files could not be decoded."},
     {}},
    {"NamesInAnyScript", {{"\xE6\x97\xA5\xE6\x9C\xAC \xC5\x9Cong.mp3", "ok"}},
     {"\xE6\x97\xA5\xE6\x9C\xAC \xC5\x9Cong.mp3|", kDone},
     {"\xE6\x97\xA5\xE6\x9C\xAC \xC5\x9Cong.wav"}},
    // Through temporary names, which go with every run, whatever its end.
    {"NamesTheDecoderCannotRead",
     {{"b.mp3", "exit 3"}, {"c.mp3", "shortwav"}, {"d.mp3", "ok"}},
     {"b.mp3|the decoder exited with code 3",
      "c.mp3|the WAV file is incomplete", "d.mp3|",
      kDone + " 2 of 3 MP3 files could not be decoded."},
     {"d.wav"}, kPlain, kStaged},
    // Line ends and text direction: none taken from a name; the characters
    // just past those ranges (U+00A0, U+202F) are shown.
    {"NoNameBreaksOrReordersALine",
     {{"new\r\nline.mp3", "ok"},
      {"g\xE2\x80\xA8h\xE2\x80\xA9i\xC2\x85\xC2\x9B\xC2\xA0j\xE2\x80\xAEk"
       "\xE2\x80\xAA\xE2\x80\xAF\xE2\x81\xA6\xE2\x81\xA9.mp3",
       "ok"}},
     {"g\xEF\xBF\xBDh\xEF\xBF\xBDi\xEF\xBF\xBD\xEF\xBF\xBD\xC2\xA0j\xEF\xBF\xBD"
      "k\xEF\xBF\xBD\xE2\x80\xAF\xEF\xBF\xBD\xEF\xBF\xBD.mp3|",
      "new\xEF\xBF\xBD\xEF\xBF\xBDline.mp3|", kDone},
     {"new\r\nline.wav",
      "g\xE2\x80\xA8h\xE2\x80\xA9i\xC2\x85\xC2\x9B\xC2\xA0j\xE2\x80\xAEk\xE2"
      "\x80\xAA\xE2\x80\xAF\xE2\x81\xA6\xE2\x81\xA9.wav"},
     kPlain, kPosixOnly},
    {"ClosingAsTheDecoderEndsKeepsItsWav", {{"a.mp3", "ok"}}, {"a.mp3|"},
     {"a.wav"}, kPlain, kCloseAfterRun},
    {"FolderAnotherWindowWorksInIsLeftAlone", {{"a.mp3", "ok"}},
     {"Error: Another program is working in #, another Larkspire Decompress "
      "window perhaps; this one decodes nothing."},
     {}, kPlain, kBusy},
    {"FolderNoFileCanBeMadeIn", {{"a.mp3", "ok"}},
     {"a.mp3|the folder is not writable",
      kDone + " 1 of 1 MP3 files could not be decoded."},
     {}, kPlain, kSealed | kPosixOnly},
    {"NothingTheDecoderStartedOutlivesItsRun",
     {{"a.mp3", "detach\nsleep 300\nremove keep.txt"}, {"b.mp3", "sleep 900"},
      {"c.mp3", "detach\nnowav"}, {"keep.txt", ""}},
     {"a.mp3|", "b.mp3|", "c.mp3|", kDone}, {"a.wav", "b.wav", "c.wav"}, kPlain,
     kPosixOnly},
    // Refused before the decoder runs, on either path: Windows would fail
    // the decoder, and a rename (or root on Linux) would replace the file.
    {"ReadOnlyWavIsKept", {{"a.mp3", "ok"}, {"a.wav", kReadOnlyWav}},
     {"a.mp3|its WAV file is read-only",
      kDone + " 1 of 1 MP3 files could not be decoded."},
     {}},
    // Stopped mid-decode, the run leaves the folder as it found it; at
    // logoff, before Windows may end the program.
    {"ClosingMidDecode", {{"a.mp3", "begin\nsleep 1500\nok"}, {"a.wav", kWav}},
     {"Decoding a.mp3..."}, {}, kPlain, kCloseMidRun},
    {"SessionEndingMidDecode",
     {{"a.mp3", "begin\nsleep 1500\nok"}, {"a.wav", kWav}},
     {"Decoding a.mp3..."}, {}, kPlain, kEndMidRun},
    // A long name on a volume without 8.3 names, and a folder that takes no
    // temporary name for one file: neither stops the others.
    {"NoShortPathTakesTemporaryNamesWhoseTroubleFailsThatFileAlone",
     {{"a.mp3", "ok"}, {std::string(250, 'n') + ".mp3", "ok"},
      {std::string(250, 'r') + ".mp3", "ok"}},
     {"a.mp3|", std::string(250, 'n') + ".mp3|",
      std::string(250, 'r') + ".mp3|the folder is not writable",
      kDone + " 1 of 3 MP3 files could not be decoded."},
     {"a.wav", std::string(250, 'n') + ".wav"}, kPlain, kNoShortNames},
    {"TemporaryNotMadeSaysWhy", {{std::string(250, 'f') + ".mp3", "ok"}},
     {std::string(250, 'f') +
          ".mp3|its temporary file could not be made: No space left on device",
      kDone + " 1 of 1 MP3 files could not be decoded."},
     {}, kPlain, kNoShortNames},
    // Only those of a process that has ended, and that no program has open
    // (another computer's, on a shared folder).
    {"TemporariesOfEndedRunsRemovedAtStart",
     {{"lsk999999999_1.mpg", "x"}, {"lsk999999999_2.tmp", ""},
      {"lsk$$_1.mpg", "x"}, {"lsk999999999_3.tmp", kInUse}},
     {"Removed lsk999999999_1.mpg, left by an earlier run.",
      "Removed lsk999999999_2.tmp, left by an earlier run.",
      "No MP3 file was found in @.", kDone},
     {"-lsk999999999_1.mpg", "-lsk999999999_2.tmp"}},
    {"TemporaryThatStaysIsNamed", {{"a.mp3", "ok"}},
     {"a.mp3|the decoder exited with code 73; lsk$$_1.tmp could not be "
      "removed",
      kDone + " 1 of 1 MP3 files could not be decoded."},
     {"lsk$$_1.tmp"}, kPlain, kStuck},
    {"DecoderCrashIsSaidInWords", {{"a.mp3", "crash"}, {"b.mp3", "ok"}},
     {"a.mp3|the decoder crashed: 0xC0000005", "b.mp3|",
      kDone + " 1 of 2 MP3 files could not be decoded."},
     {"b.wav"}, kPlain, kWindowsOnly},
    // A decoder that cannot be started stops the batch at the first MP3
    // with the system's own words (Windows' are checked under Wine).
    {"DecoderMissing", {{"a.mp3", "ok"}, {"b.mp3", "ok"}},
     {"Decoding a.mp3...", "The decoder could not be started from #/lame.",
      "Error 2: No such file or directory. " + kFatal},
     {}, kPlain, kPosixOnly, "lame"},
    {"DecoderNotExecutable", {{"a.mp3", "ok"}, {"lame", "#!/bin/sh\n"}},
     {"Decoding a.mp3...", "The decoder could not be started from #/lame.",
      "Error 13: Permission denied. " + kFatal},
     {}, kPlain, kPosixOnly, "lame"},
    {"DecoderNoProgram", {{"a.mp3", "ok"}, {"lame", kProgram}},
     {"Decoding a.mp3...", "The decoder could not be started from #/lame.",
      "Error 8: Exec format error. " + kFatal},
     {}, kPlain, kPosixOnly, "lame"},
};
// clang-format on

class BatchRow : public BatchTest, public ::testing::WithParamInterface<Row> {};

TEST_P(BatchRow, Gives) {
  if (GetParam().Has(kPosixOnly) && OnWindows()) GTEST_SKIP() << "POSIX only";
  if (GetParam().Has(kWindowsOnly) && !OnWindows())
    GTEST_SKIP() << "Windows only";
  Check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Batch, BatchRow, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return row.param.name; });

// What the window shows between the batch's steps: in black, a failed file
// in red.
TEST_F(BatchTest, ShownAtEachPump) {
  const fs::path audio = root.path() / "audio";
  fs::create_directory(audio);
  for (const char* name : {"a b.mp3", "b.exe", "c.MP3", "d.wav"})
    WriteFile(audio / name, "sleep 200");
  WriteFile(audio / "c.MP3", "sleep 200\nexit 3");
  frmMain form;
  Lines shown;
  platform::headless::SetPumpHook([&] {
    std::ostringstream state;
    const Rgb c = form.lblStatus.ForeColor();
    state << form.lblStatus.Caption().substr(0, 14) << " | "
          << form.lblPercent.Caption() << " | " << form.pbProgress.Value()
          << " | " << c.red + c.green + c.blue;
    if (shown.empty() || shown.back() != state.str())
      shown.push_back(state.str());
  });
  basFunctions::Main(
      form, {audio.string(), {STANDIN_DECODER}, platform::kPathSeparator});
  const std::string folder = basFunctions::GetShortPath(audio.string());
  EXPECT_EQ(shown,
            (Lines{"Audio folder:  | Progress: | 0 | 0",
                   "Decoding a b.m | Progress: | 0 | 0",
                   folder.substr(0, 14) + " | Progress: 25% | 25 | 0",
                   "Decoding c.MP3 | Progress: 25% | 25 | 0",
                   folder.substr(0, 14) + " | Progress: 75% | 75 | 255"}));
}

}  // namespace
