#include "batch/basFunctions.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <vector>

#include "batch/decoder.h"
#include "batch/progress.h"
#include "platform/events.h"
#include "window/frmMain.h"

namespace basFunctions {

namespace {

constexpr std::int32_t kHidden = 0;
constexpr unsigned kWaitSliceMs = 500;

const char kFatalSuffix[] = "The Larkspire decompress utility cannot continue.";
const char kCompleted[] =
    "Larkspire Decompress utility has completed all actions.";

// The first n characters of the buffer when the call succeeded and the
// answer fit; empty otherwise, never a cut or unterminated path.
std::string ShortForm(ShortPathFunction shortPathName, const std::string& path,
                      std::vector<char>& buffer, std::uint32_t& n) {
  n = shortPathName(path, buffer.data(),
                    static_cast<std::uint32_t>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return "";
  return std::string(buffer.data(), n);
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The length of the UTF-8 sequence at `at` that must not be shown as it is,
// or 0: a character that ends a line (C0 and C1 controls, DEL, U+2028,
// U+2029) or reorders the text after it (the bidirectional embeddings,
// overrides and isolates, U+202A to U+202E and U+2066 to U+2069). A name
// holding one could add a line of its own to the log, or turn the rest of
// its line around.
std::size_t Unshowable(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  if (byte(0) < 0x20 || byte(0) == 0x7F) return 1;
  if (byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) return 2;
  if (byte(0) != 0xE2) return 0;
  if (byte(1) == 0x80 && byte(2) >= 0xA8 && byte(2) <= 0xAE) return 3;
  if (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9) return 3;
  return 0;
}

// A name as the log shows it: every character Unshowable finds becomes
// U+FFFD, as the window shows bytes that are not UTF-8.
std::string Shown(const std::string& text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Unshowable(text, at);
    shown += length ? std::string("\xEF\xBF\xBD") : std::string(1, text[at]);
    at += length ? length : 1;
  }
  return shown;
}

// An exception code as Windows writes it: 0xC0000005.
std::string Hex(int code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

WavCheck CheckWavFile(const std::string& path) {
  std::string head;
  std::uint64_t size = 0;
  if (!platform::ReadFileStart(path, kWavHeadBytes, head, size))
    return WavCheck::kUnreadable;
  return CheckWavHeader(head, size);
}

// Whether a file can be made in `folder`; the probe leaves nothing.
bool Writable(const std::string& folder) {
  try {
    platform::RemoveFile(platform::MakeTemporary(folder, "", ".tmp"));
    return true;
  } catch (const platform::Error&) {
    return false;
  }
}

// Why a run failed, or "" when it wrote a complete WAV file. A WAV file the
// run did not change is none of its doing; one it wrote or changed goes
// with a failure, so that a red line never leaves a new WAV file.
std::string FailureReason(const ShellResult& run, const std::string& wavPath,
                          const platform::FileState& before,
                          const platform::FileState& after,
                          const std::string& folder) {
  const bool touched =
      after.kind == platform::FileState::kFile && !(after == before);
  const WavCheck check = touched ? CheckWavFile(wavPath) : WavCheck::kMissing;
  std::string reason;
  if (run.exit.kind == platform::ProcessExit::kSignaled)
    reason =
        "the decoder was stopped by signal " + std::to_string(run.exit.code);
  else if (run.exit.kind == platform::ProcessExit::kCrashed)
    reason = "the decoder crashed: " + Hex(run.exit.code);
  else if (!touched && !Writable(folder))
    reason = "the folder is not writable";
  else if (run.exit.code != 0)
    reason = "the decoder exited with code " + std::to_string(run.exit.code);
  else if (check == WavCheck::kMissing)
    reason = "no WAV file was written";
  else if (check == WavCheck::kIncomplete)
    reason = "the WAV file is incomplete";
  else if (check == WavCheck::kNoAudio)
    reason = "the WAV file holds no audio";
  else if (check == WavCheck::kUnreadable)
    reason = "the WAV file could not be read";
  if (reason.empty() || !touched || !platform::RemoveFile(wavPath))
    return reason;
  return check == WavCheck::kIncomplete
             ? reason + "; the incomplete WAV file was removed"
             : reason;
}

// The file's name within its folder.
std::string NameOf(const std::string& path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

// Temporary files of one run, removed with it: whatever a failed, stopped
// or abandoned run leaves of them goes.
struct Temporaries {
  const BatchSetup& setup;
  std::vector<std::string> paths{};
  ~Temporaries() { Remove(); }
  std::string Make(const std::string& folder, const std::string& source,
                   const std::string& suffix) {
    paths.push_back(setup.makeTemporary(folder, source, suffix));
    return paths.back();
  }
  // The names of those that could not be removed, for the file's line; the
  // output renamed to its WAV name is gone already.
  std::string Remove() {
    std::string stayed;
    for (const std::string& path : paths)
      if (!platform::RemoveFile(path) &&
          platform::StatFile(path).kind != platform::FileState::kNone)
        stayed += (stayed.empty() ? "" : ", ") + NameOf(path);
    paths.clear();
    return stayed;
  }
};

// What a run of the decoder came to: the reason it failed ("" when it wrote
// its WAV file), or that the window was closed meanwhile, and the temporary
// files it could not remove.
struct Outcome {
  std::string reason;
  bool abandoned = false;
  std::string stayed{};
};

// The state of one batch run.
struct Batch {
  frmMain& form;
  const BatchSetup& setup;
  std::string audioFolder{};
  std::vector<char> shortPathBuffer =
      std::vector<char>(platform::kShortPathBuffer);
  std::int32_t counter = 1;
  double step = 0.0;
  std::int32_t mp3Count = 0;
  std::int32_t failures = 0;
  // The WAV files this batch wrote, by identity (by name where the volume
  // has none), and the MP3 of each.
  std::map<std::string, std::string> written{};

  void ShowProgress() { form.pbProgress.SetValue(BarValue(counter, step)); }
  void Advance() { AddToCounter(counter, 1); }

  // Runs the decoder on one MP3 and reports it. Returns false when the user
  // closed the window meanwhile.
  bool Decode(const platform::FileEntry& file);
  // Why the decoder must not write `wav` for `mp3`, or "" when it may.
  std::string Refusal(const platform::FileEntry& mp3,
                      const std::string& wavPath,
                      const platform::FileState& wav) const;
  // Runs the decoder with the names it can read: the short path and the WAV
  // path themselves, or else temporary ASCII names in the folder (a link to
  // the MP3, and an output renamed to the WAV name once it is checked).
  Outcome Convert(const platform::FileEntry& mp3, const std::string& shortMp3,
                  const std::string& wavPath,
                  const platform::FileState& before);
  Outcome ConvertStaged(const std::string& mp3Path, const std::string& wavPath);
  Outcome RunStaged(Temporaries& temporaries, const std::string& mp3Path,
                    const std::string& wavPath);
  // Removes what a run that ended without its cleanup (killed, or the
  // system gone) left of its temporary files, and lists the rest.
  std::vector<platform::FileEntry> ListWithoutStale();
  // Whether `folder` is the application folder itself. Windows drops a
  // name's trailing spaces, so "audio " may resolve to a sibling "audio".
  // A folder that cannot be looked at as given is taken on trust.
  bool OwnFolder(const std::string& folder) const {
    const platform::FileState own = platform::StatFile(setup.applicationFolder);
    return !own.Known() || own.SameFileAs(platform::StatFile(folder));
  }
  // Returns early, writing nothing more, when the user closes the window.
  void Run();
  void Finish();
};

// The key a written WAV file is remembered by.
std::string WrittenKey(const std::string& wavPath,
                       const platform::FileState& wav) {
  if (!wav.Known()) return "name " + platform::FoldCase(wavPath);
  return std::to_string(wav.volume) + ":" + std::to_string(wav.index);
}

std::string Batch::Refusal(const platform::FileEntry& mp3,
                           const std::string& wavPath,
                           const platform::FileState& wav) const {
  if (wav.kind == platform::FileState::kOther)
    return "its WAV file name is taken by something that is not a file";
  if (wav.SameFileAs(platform::StatFile(mp3.Path)))
    return "its WAV file would replace the MP3 itself";
  // The decoder would write through it, to a file outside the folder.
  if (wav.link || wav.links > 1) return "its WAV file name is a link";
  // Left to them, the decoder would fail on it on Windows, and the rename
  // (or root on Linux) would replace it: one answer on every path.
  if (wav.kind == platform::FileState::kFile && wav.readOnly)
    return "its WAV file is read-only";
  const auto first = written.find(WrittenKey(wavPath, wav));
  if (wav.kind == platform::FileState::kFile && first != written.end())
    return "its WAV file was already written for " + Shown(first->second);
  return "";
}

Outcome Batch::Convert(const platform::FileEntry& mp3,
                       const std::string& shortMp3, const std::string& wavPath,
                       const platform::FileState& before) {
  // A device name would reach the device, whatever its folder; a file
  // without a short path is still reached by the temporary names. Other
  // systems lose nothing by the detour.
  if (shortMp3.empty() || IsDeviceName(mp3.Name) ||
      !setup.decoderReads(shortMp3) || !setup.decoderReads(wavPath))
    return ConvertStaged(mp3.Path, wavPath);
  const platform::CommandLine command =
      DecoderCommand(setup.decoderPath, shortMp3, wavPath);
  DebugTrace("15 (" + command.text + ")");
  const ShellResult run = ShellAndWait(command, kHidden);
  const platform::FileState after = platform::StatFile(wavPath);
  if (run.kind == ShellResult::kAbandoned) {
    // The stopped run's file is no WAV file; an older one it replaced is
    // gone already.
    if (after.kind == platform::FileState::kFile && !(after == before))
      platform::RemoveFile(wavPath);
    return {"", true};
  }
  return {FailureReason(run, wavPath, before, after, audioFolder)};
}

Outcome Batch::ConvertStaged(const std::string& mp3Path,
                             const std::string& wavPath) {
  Temporaries temporaries{setup};
  Outcome outcome = RunStaged(temporaries, mp3Path, wavPath);
  outcome.stayed = temporaries.Remove();
  return outcome;
}

Outcome Batch::RunStaged(Temporaries& temporaries, const std::string& mp3Path,
                         const std::string& wavPath) {
  // LAME takes ".mpg" for MPEG audio; a name ending in "mp3" left by a
  // crash would be decoded by the next run.
  std::string input, output;
  try {
    input = temporaries.Make(audioFolder, mp3Path, ".mpg");
    output = temporaries.Make(audioFolder, "", ".tmp");
  } catch (const platform::Error& e) {
    // One file's trouble with its folder is that file's; the batch goes on.
    if (platform::WriteRefused(e)) return {"the folder is not writable"};
    std::string why = e.Description();
    if (!why.empty() && why.back() == '.') why.pop_back();  // inside brackets
    return {"its temporary file could not be made: " + why};
  }
  // Windows resolves a relative name within MAX_PATH of the whole path: a
  // name without a short form there is one the decoder cannot open.
  std::uint32_t n = 0;
  if (ShortForm(setup.shortPathName, input, shortPathBuffer, n).empty())
    return {"its short path could not be resolved"};
  platform::CommandLine command =
      DecoderCommand(setup.decoderPath, NameOf(input), NameOf(output));
  command.directory = audioFolder;
  DebugTrace("15 (" + command.text + ")");
  const platform::FileState before = platform::StatFile(output);
  const ShellResult run = ShellAndWait(command, kHidden);
  if (run.kind == ShellResult::kAbandoned) return {"", true};
  Outcome outcome{FailureReason(run, output, before, platform::StatFile(output),
                                audioFolder)};
  if (outcome.reason.empty() && !platform::RenameReplacing(output, wavPath))
    outcome.reason = "the decoded WAV file could not be renamed to its name";
  return outcome;
}

bool Batch::Decode(const platform::FileEntry& file) {
  DebugTrace("12");
  ShowStatus(form, "Decoding " + Shown(file.Name) + "...", 0, 0, 0);
  DebugTrace("13");
  std::uint32_t n = 0;
  const std::string shortMp3 =
      ShortForm(setup.shortPathName, file.Path, shortPathBuffer, n);
  DebugTrace("14 (" + std::to_string(n) + ")");
  const std::string wavPath =
      WavPathFor(audioFolder, setup.separator, file.Name);

  // An MP3 that is no longer there or no longer a file (a FIFO the decoder
  // would wait on for ever), or a WAV name the decoder must not write, is
  // reported instead of run.
  const platform::FileState mp3 = platform::StatFile(file.Path);
  const platform::FileState before = platform::StatFile(wavPath);
  std::string reason = mp3.kind == platform::FileState::kNone
                           ? "the MP3 file could not be found"
                       : mp3.kind == platform::FileState::kOther
                           ? "the MP3 file is not a file"
                           : Refusal(file, wavPath, before);
  std::string stayed;
  if (reason.empty()) {
    const Outcome outcome = Convert(file, shortMp3, wavPath, before);
    if (outcome.abandoned) return false;
    reason = outcome.reason;
    if (!outcome.stayed.empty())
      stayed = outcome.stayed + " could not be removed";
    if (reason.empty())
      written[WrittenKey(wavPath, platform::StatFile(wavPath))] = file.Name;
  }

  DebugTrace("16");
  ShowProgress();
  Advance();
  DebugTrace("17");
  ShowProgress();
  Advance();
  DebugTrace("18");
  if (reason.empty()) {
    ShowStatus(form,
               Shown(file.Path) + " decoding complete" +
                   (stayed.empty() ? "" : " (" + stayed + ")") + ".",
               0, 0, 0);
  } else {
    ++failures;
    if (!stayed.empty()) reason += "; " + stayed;
    ShowStatus(form, Shown(file.Path) + " decoding failed (" + reason + ").",
               255, 0, 0);
  }
  form.lblPercent.SetCaption(
      PercentCaption(counter * step, platform::DecimalSeparator()));
  ShowProgress();
  Advance();
  return true;
}

void Batch::Run() {
  form.Show();
  DebugTrace("1");
  ShowStatus(form, "Audio folder: " + Shown(setup.applicationFolder), 0, 0, 0);
  DebugTrace("2");
  DebugTrace("3");
  audioFolder = GetShortPath(setup.applicationFolder, setup.shortPathName);
  DebugTrace("4");
  if (!platform::FolderExists(audioFolder) || !OwnFolder(audioFolder)) {
    DebugTrace("5");
    ShowStatus(form, "Error: The folder could not be found.", 255, 0, 0);
    return;
  }
  // Two programs in one folder would decode the same files at once, and
  // neither could tell the other's writing from its own.
  const platform::FolderClaim claim(audioFolder);
  if (!claim.Held()) {
    ShowStatus(form,
               "Error: Another Larkspire Decompress window is working in " +
                   Shown(audioFolder) + "; this one decodes nothing.",
               255, 0, 0);
    form.lblPercent.SetCaption("Progress: 100%");
    form.pbProgress.SetValue(100.0f);
    return;
  }
  DebugTrace("6");
  const std::vector<platform::FileEntry> files = ListWithoutStale();
  counter = 1;
  DebugTrace("7");
  const auto count = static_cast<std::int32_t>(files.size());
  if (count > 0) {
    DebugTrace("8");
    step = ProgressStep(count);
  }
  DebugTrace("9");
  for (const platform::FileEntry& file : files) {
    if (!platform::PumpEvents()) return;
    DebugTrace("10");
    if (!IsMp3Name(file.Name)) {
      DebugTrace("11");
      AddToCounter(counter, 3);
      continue;
    }
    ++mp3Count;
    if (!Decode(file)) return;
  }
  DebugTrace("19!");
  if (!platform::PumpEvents()) return;
  Finish();
}

std::vector<platform::FileEntry> Batch::ListWithoutStale() {
  std::vector<platform::FileEntry> files = platform::ListFiles(audioFolder);
  const auto stale = [this](const platform::FileEntry& file) {
    const long long owner = TemporaryOwner(file.Name);
    if (owner < 0 || platform::ProcessRunning(owner) ||
        !platform::RemoveFile(file.Path))
      return false;
    ShowStatus(form, "Removed " + file.Name + ", left by an earlier run.", 0, 0,
               0);
    return true;
  };
  files.erase(std::remove_if(files.begin(), files.end(), stale), files.end());
  return files;
}

void Batch::Finish() {
  if (failures == 0) {
    ShowStatus(form, kCompleted, 0, 128, 0);
  } else {
    ShowStatus(form,
               std::string(kCompleted) + " " + std::to_string(failures) +
                   " of " + std::to_string(mp3Count) +
                   " MP3 files could not be decoded.",
               255, 0, 0);
  }
  form.lblPercent.SetCaption("Progress: 100%");
  form.pbProgress.SetValue(100.0f);
  DebugTrace("20!!");
}

void ReportError(frmMain& form, long number, const std::string& description) {
  ShowStatus(form, FatalLine(number, description), 255, 0, 0);
}

// Every error of a batch ends in the one red line, unless the window has
// been closed.
template <typename Work>
void Reporting(frmMain& form, Work work) {
  try {
    work();
  } catch (const platform::Error& e) {
    if (!form.Closed()) ReportError(form, e.Number(), e.Description());
  } catch (const std::bad_alloc&) {
    if (!form.Closed())
      ReportError(form, platform::kErrOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    if (!form.Closed()) ReportError(form, platform::kErrInternal, e.what());
  }
}

}  // namespace

std::string FatalLine(long number, const std::string& description) {
  std::string line = "Error " + std::to_string(number) + ": " + description;
  if (!description.empty())
    line += std::string(".!?").find(description.back()) == std::string::npos
                ? ". "
                : " ";
  return line + kFatalSuffix;
}

BatchSetup ProgramSetup() {
  return {platform::ApplicationFolder(), platform::kDecoderPath,
          platform::kPathSeparator};
}

void Main(frmMain& form, const BatchSetup& setup) {
  Reporting(form, [&] { Batch{form, setup}.Run(); });
}

void Main(frmMain& form) {
  Reporting(form, [&] {
    // Shown first, so that a folder the system cannot name is reported in
    // the window too.
    form.Show();
    const BatchSetup setup = ProgramSetup();
    Batch{form, setup}.Run();
  });
}

std::string GetShortPath(const std::string& path,
                         ShortPathFunction shortPathName) {
  DebugTrace("D1");
  std::vector<char> buffer(platform::kShortPathBuffer);
  std::uint32_t n = 0;
  // Trimmed only when the path as given does not resolve: Windows drops a
  // name's trailing spaces itself, but on Linux "audio " and "audio" are two
  // folders, and trimming first would decode the wrong one.
  std::string result = ShortForm(shortPathName, path, buffer, n);
  // A path too long for the buffer is not helped by trimming; its trimmed
  // form would name another folder.
  if (n == 0) result = ShortForm(shortPathName, Trim(path), buffer, n);
  DebugTrace("D2 (" + std::to_string(n) + ")");
  DebugTrace("D3 (" + result + ")");
  return result;
}

ShellResult ShellAndWait(const platform::CommandLine& command,
                         std::int32_t windowStyle) {
  DebugTrace("E1");
  // Wait on the process we started, never on one reopened by its
  // identifier: that one may have ended already or belong to a stranger.
  platform::Process process = platform::Process::Start(command, windowStyle);
  DebugTrace("E2 (" + std::to_string(process.Id()) + ")");
  DebugTrace("E3 (" + std::to_string(process.HandleValue()) + ")");
  ShellResult result;
  for (;;) {
    // Nothing the program started outlives its window; a run that ended
    // as the window closed was not stopped, and its WAV file is checked.
    if (!platform::PumpEvents() && process.Stop()) {
      result.kind = ShellResult::kAbandoned;
      return result;
    }
    if (process.Ended()) break;
    if (platform::WaitForProcessOrEvents(process, kWaitSliceMs)) break;
  }
  result.exit = process.Exit();
  DebugTrace("E4");
  return result;
}

}  // namespace basFunctions
