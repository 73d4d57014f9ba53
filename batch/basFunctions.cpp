#include "batch/basFunctions.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "batch/decoder.h"
#include "batch/progress.h"
#include "platform/events.h"
#include "window/frmMain.h"

namespace basFunctions {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kHidden = 0;
constexpr unsigned kWaitSliceMs = 500;
// Antivirus, indexers and sync clients hold a new or changed file for a
// moment; the window answers between tries.
constexpr auto kPatience = std::chrono::seconds(2);
constexpr unsigned kRetrySliceMs = 50;
// What a closed window waits for a stopped run to go: a process stuck in
// the kernel must not keep the program from ending.
constexpr auto kStopPatience = std::chrono::seconds(5);
// Enough of the decoder's error output for its last line.
constexpr std::size_t kErrorTailBytes = 4096;
// Windows may end the program the moment its logoff handlers return.
constexpr unsigned kSessionEndPatienceMs = 2000;

const char kFatalSuffix[] = "The Larkspire decompress utility cannot continue.";
const char kCompleted[] =
    "Larkspire Decompress utility has completed all actions.";
const char kMp3InUse[] = "the MP3 file is in use by another program";
const char kWavInUse[] = "its WAV file is in use by another program";

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

// Thrown where the user closed the window while the batch waited.
platform::Error Abandoned() {
  return platform::Error(platform::kErrCancel, "Cancelled");
}

// Runs `call` again while another program holds the file it needs, for up
// to kPatience with the window answering in between; then, or on any other
// failure, throws the call's Error.
template <typename Call>
auto Patiently(Call call) -> decltype(call()) {
  const auto end = Clock::now() + kPatience;
  for (;;) {
    try {
      return call();
    } catch (const platform::Error& e) {
      if (!platform::InUse(e) || Clock::now() >= end) throw;
    }
    if (!platform::WaitForEvents(kRetrySliceMs)) throw Abandoned();
  }
}

// Reads the start of the file at `path`, waiting while another program
// holds it; the error it failed with, if it did. A window closed meanwhile
// is thrown on.
std::optional<platform::Error> ReadPatiently(const std::string& path,
                                             std::size_t count,
                                             std::string& head,
                                             std::uint64_t& size) {
  try {
    Patiently([&] { platform::ReadFileStart(path, count, head, size); });
  } catch (const platform::Error& e) {
    if (e.Number() == platform::kErrCancel) throw;
    return e;
  }
  return std::nullopt;
}

WavCheck CheckWavFile(const std::string& path) {
  std::string head;
  std::uint64_t size = 0;
  if (!ReadPatiently(path, kWavHeadBytes, head, size))
    return CheckWavHeader(head, size);
  return platform::StatFile(path).kind == platform::FileState::kNone
             ? WavCheck::kMissing
             : WavCheck::kUnreadable;
}

// Whether another program holds the file at `path` open, tried as the
// decoder opens it: waited for here, and said as such. Any other trouble
// reading it is the decoder's to meet.
bool HeldByAnother(const std::string& path) {
  if (!platform::kFilesCanBeHeld) return false;
  std::string head;
  std::uint64_t size = 0;
  const auto error = ReadPatiently(path, 0, head, size);
  return error && platform::InUse(*error);
}

// The file's name within its folder.
std::string NameOf(const std::string& path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

// The first of `places` that holds a file, or the first when none does: it
// is the one the error names.
std::string FirstFile(const std::vector<std::string>& places) {
  for (const std::string& place : places)
    if (platform::StatFile(place).kind == platform::FileState::kFile)
      return place;
  return places.empty() ? "" : places.front();
}

// What a failure to make a temporary file says in the file's line.
std::string TemporaryTrouble(const platform::Error& e) {
  if (platform::InUse(e)) return kMp3InUse;
  if (platform::WriteRefused(e)) return "the folder is not writable";
  std::string why = e.Description();
  if (!why.empty() && why.back() == '.') why.pop_back();  // inside brackets
  return "its temporary file could not be made: " + why;
}

struct Batch;

// One attempt at one MP3. Everything it may leave in the folder, its
// temporary files, is its own until Commit moves the checked output over
// the WAV name; Rollback, or the destructor, removes what is left, so a
// failed, stopped or abandoned run leaves the folder as it found it. At
// logoff the rollback comes before Windows may end the program.
class Attempt {
 public:
  explicit Attempt(Batch& batch) : batch_(batch) {}
  Attempt(const Attempt&) = delete;
  Attempt& operator=(const Attempt&) = delete;
  ~Attempt() { RemoveAll(false); }

  // A new temporary file in the audio folder: a link to (or copy of)
  // `source`, or an empty one. Throws Error.
  std::string Make(const std::string& source, const std::string& suffix);
  // The output moved over `wavPath`; the reason when it could not be.
  std::string Commit(const std::string& output, const std::string& wavPath);
  // Removes the temporary files; the names of those that stay.
  std::string Rollback() { return RemoveAll(true); }

 private:
  std::string RemoveAll(bool patient);

  // A temporary file, marked in use for as long as the attempt has it.
  struct Made {
    std::string path;
    std::optional<platform::FileInUse> mark;
  };

  Batch& batch_;
  std::vector<Made> made_{};
  const platform::SessionEndHandler ending_{[this] { RemoveAll(false); }};
};

// What one MP3 came to: the reason it failed ("" when its WAV file is in
// place), or that the window was closed meanwhile, and the temporary files
// that could not be removed.
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
  // One counter for every temporary name of the batch: a name just
  // removed may stay unusable for a while (Windows 7, FAT, network shares).
  std::uint32_t temporaries = 0;
  // The WAV files this batch wrote, by identity (by name where the volume
  // has none), and the MP3 of each.
  std::map<std::string, std::string> written{};
  // The first of the decoder's places that holds a file (the first when
  // none does), and where its error output goes, made at its first run.
  std::string decoder{};
  std::optional<platform::ErrorOutput> errors{};

  void ShowProgress() { form.pbProgress.SetValue(BarValue(counter, step)); }
  void Advance() { AddToCounter(counter, 1); }
  // `name` in the audio folder.
  std::string InFolder(const std::string& name) const {
    const char last = audioFolder.empty() ? '\0' : audioFolder.back();
    return last == setup.separator ? audioFolder + name
                                   : audioFolder + setup.separator + name;
  }
  std::string WrittenFor(const std::string& wavPath,
                         const platform::FileState& wav) const;

  // Decodes one MP3 and reports it. Returns false when the user closed the
  // window meanwhile.
  bool Decode(const platform::FileEntry& file);
  Outcome Convert(const platform::FileEntry& file, const std::string& shortMp3,
                  const std::string& wavPath);
  // Runs the decoder into a temporary file and, when its output is a WAV
  // file, moves it over the WAV name; why not, otherwise. Throws Error
  // when the decoder cannot be started, kErrCancel when the window closed.
  std::string Try(Attempt& attempt, const platform::FileEntry& file,
                  const std::string& shortMp3, const std::string& wavPath);
  // The decoder's command for the route the file takes, its temporary
  // files made; "" and a reason when they cannot be.
  platform::CommandLine Command(Attempt& attempt,
                                const platform::FileEntry& file,
                                const std::string& shortMp3,
                                std::string& output, std::string& reason);
  // ShellAndWait; a decoder that cannot be started is named first, since
  // the system's words alone, after an MP3's name, read as if the MP3 were
  // missing.
  ShellResult RunDecoder(const platform::CommandLine& command);
  void Report(const platform::FileEntry& file, const Outcome& outcome);
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

std::string Attempt::Make(const std::string& source,
                          const std::string& suffix) {
  const auto between = [] { return platform::PumpEvents(); };
  for (int tries = 0; tries < 1000; ++tries) {
    const std::string path = batch_.InFolder(
        TemporaryName(platform::ProcessId(), ++batch_.temporaries, suffix));
    if (Patiently(
            [&] { return batch_.setup.makeNewFile(path, source, between); })) {
      made_.push_back({path, platform::FileInUse(path)});
      return path;
    }
  }
  throw platform::Error(platform::kErrInternal, "No temporary name is free");
}

std::string Attempt::Commit(const std::string& output,
                            const std::string& wavPath) {
  const auto made =
      std::find_if(made_.begin(), made_.end(),
                   [&](const Made& m) { return m.path == output; });
  made->mark.reset();
  try {
    Patiently([&] { platform::MoveFileOver(output, wavPath); });
  } catch (const platform::Error& e) {
    if (e.Number() == platform::kErrCancel) throw;
    return platform::InUse(e)
               ? kWavInUse
               : "the decoded WAV file could not be renamed to its name";
  }
  made_.erase(made);
  return "";
}

std::string Attempt::RemoveAll(bool patient) {
  std::string stayed;
  for (Made& made : made_) {
    const std::string& path = made.path;
    made.mark.reset();
    try {
      if (patient) {
        Patiently([&] { platform::RemoveFile(path); });
      } else {
        platform::RemoveFile(path);
      }
    } catch (const platform::Error&) {
      stayed += (stayed.empty() ? "" : ", ") + NameOf(path);
    }
  }
  made_.clear();
  return stayed;
}

// The key a written WAV file is remembered by.
std::string WrittenKey(const std::string& wavPath,
                       const platform::FileState& wav) {
  if (!wav.Known()) return "name " + platform::FoldCase(wavPath);
  return std::to_string(wav.volume) + ":" + std::to_string(wav.indexHigh) +
         ":" + std::to_string(wav.index);
}

std::string Batch::WrittenFor(const std::string& wavPath,
                              const platform::FileState& wav) const {
  const auto found = written.find(WrittenKey(wavPath, wav));
  return found == written.end() ? "" : found->second;
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
  const Outcome outcome = Convert(file, shortMp3, wavPath);
  if (outcome.abandoned) return false;
  Report(file, outcome);
  return true;
}

Outcome Batch::Convert(const platform::FileEntry& file,
                       const std::string& shortMp3,
                       const std::string& wavPath) {
  const platform::FileState wav = platform::StatFile(wavPath);
  Outcome outcome{
      Refusal(platform::StatFile(file.Path), wav, WrittenFor(wavPath, wav))};
  if (!outcome.reason.empty()) return outcome;
  Attempt attempt{*this};
  try {
    outcome.reason = Try(attempt, file, shortMp3, wavPath);
  } catch (const platform::Error& e) {
    if (e.Number() != platform::kErrCancel) throw;
    outcome.abandoned = true;
  }
  if (outcome.reason.empty() && !outcome.abandoned)
    written[WrittenKey(wavPath, platform::StatFile(wavPath))] = file.Name;
  outcome.stayed = attempt.Rollback();
  return outcome;
}

std::string Batch::Try(Attempt& attempt, const platform::FileEntry& file,
                       const std::string& shortMp3,
                       const std::string& wavPath) {
  std::string output, reason;
  const platform::CommandLine command =
      Command(attempt, file, shortMp3, output, reason);
  if (!reason.empty()) return reason;
  DebugTrace("15 (" + command.text + ")");
  if (!errors) errors.emplace();
  errors->Clear();
  const ShellResult run = RunDecoder(command);
  if (run.kind == ShellResult::kAbandoned) throw Abandoned();
  reason = Verdict(run.exit, CheckWavFile(output));
  if (reason.empty()) return attempt.Commit(output, wavPath);
  // The decoder's own words on what went wrong, where it gave any.
  const std::string said = LastLine(errors->Tail(kErrorTailBytes));
  return said.empty() ? reason : reason + ": " + said;
}

platform::CommandLine Batch::Command(Attempt& attempt,
                                     const platform::FileEntry& file,
                                     const std::string& shortMp3,
                                     std::string& output, std::string& reason) {
  const bool direct =
      ChooseRoute(file.Name, shortMp3, audioFolder, setup.decoderReads,
                  setup.deviceNames) == Route::kDirect;
  if (HeldByAnother(file.Path)) {
    reason = kMp3InUse;
    return {};
  }
  std::string input;
  try {
    // LAME takes ".mpg" for MPEG audio; a name ending in "mp3" left by a
    // crash would be decoded by the next run.
    input = direct ? shortMp3 : attempt.Make(file.Path, ".mpg");
    output = attempt.Make("", ".tmp");
  } catch (const platform::Error& e) {
    if (e.Number() == platform::kErrCancel) throw;
    // One file's trouble with its folder is that file's; the batch goes on.
    reason = TemporaryTrouble(e);
    return {};
  }
  if (direct) return DecoderCommand(decoder, shortMp3, output);
  // Windows resolves a relative name within MAX_PATH of the whole path: a
  // name without a short form there is one the decoder cannot open.
  std::uint32_t n = 0;
  if (ShortForm(setup.shortPathName, input, shortPathBuffer, n).empty())
    reason = "its short path could not be resolved";
  platform::CommandLine command =
      DecoderCommand(decoder, NameOf(input), NameOf(output));
  command.directory = audioFolder;
  return command;
}

ShellResult Batch::RunDecoder(const platform::CommandLine& command) {
  try {
    return ShellAndWait(command, kHidden, &*errors);
  } catch (const platform::Error&) {
    std::string places;
    for (const std::string& place : setup.decoderPlaces)
      places += (places.empty() ? "" : " or ") + Shown(place);
    ShowStatus(form, "The decoder could not be started from " + places + ".",
               255, 0, 0);
    throw;
  }
}

void Batch::Report(const platform::FileEntry& file, const Outcome& outcome) {
  DebugTrace("16");
  ShowProgress();
  Advance();
  DebugTrace("17");
  ShowProgress();
  Advance();
  DebugTrace("18");
  const std::string stayed =
      outcome.stayed.empty() ? "" : outcome.stayed + " could not be removed";
  if (outcome.reason.empty()) {
    ShowStatus(form,
               Shown(file.Path) + " decoding complete" +
                   (stayed.empty() ? "" : " (" + stayed + ")") + ".",
               0, 0, 0);
  } else {
    ++failures;
    ShowStatus(form,
               Shown(file.Path) + " decoding failed (" + outcome.reason +
                   (stayed.empty() ? "" : "; " + stayed) + ").",
               255, 0, 0);
  }
  form.lblPercent.SetCaption(
      PercentCaption(counter * step, platform::DecimalSeparator()));
  ShowProgress();
  Advance();
}

void Batch::Run() {
  form.Show();
  DebugTrace("1");
  ShowStatus(form, "Audio folder: " + Shown(setup.applicationFolder), 0, 0, 0);
  DebugTrace("2");
  DebugTrace("3");
  audioFolder = GetShortPath(setup.applicationFolder, setup.shortPathName);
  DebugTrace("4");
  // Without a short form (a parent folder the user may not list), the
  // folder is worked in by its long one.
  if (audioFolder.empty() && platform::FolderExists(setup.applicationFolder))
    audioFolder = setup.applicationFolder;
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
               "Error: Another program is working in " + Shown(audioFolder) +
                   ", another Larkspire Decompress window perhaps; this one "
                   "decodes nothing.",
               255, 0, 0);
    form.lblPercent.SetCaption("Progress: 100%");
    form.pbProgress.SetValue(100.0f);
    return;
  }
  DebugTrace("6");
  const std::vector<platform::FileEntry> files = ListWithoutStale();
  decoder = FirstFile(setup.decoderPlaces);
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
  // Else the green line alone would read as success, for a program copied
  // into the wrong folder, say.
  if (mp3Count == 0)
    ShowStatus(
        form,
        "No MP3 file was found in " + Shown(setup.applicationFolder) + ".", 0,
        0, 0);
  Finish();
}

std::vector<platform::FileEntry> Batch::ListWithoutStale() {
  std::vector<platform::FileEntry> files = platform::ListFiles(audioFolder);
  const auto stale = [this](const platform::FileEntry& file) {
    // A process of another computer sharing the folder does not run here:
    // only a file no program has open is stale.
    const long long owner = TemporaryOwner(file.Name);
    if (owner < 0 || platform::ProcessRunning(owner) ||
        !platform::RemoveIfUnused(file.Path))
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
  return {platform::ApplicationFolder(), platform::DecoderPlaces(),
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
                         std::int32_t windowStyle,
                         const platform::ErrorOutput* errors) {
  DebugTrace("E1");
  // Wait on the process we started, never on one reopened by its
  // identifier: that one may have ended already or belong to a stranger.
  platform::Process process =
      platform::Process::Start(command, windowStyle, errors);
  DebugTrace("E2 (" + std::to_string(process.Id()) + ")");
  DebugTrace("E3 (" + std::to_string(process.HandleValue()) + ")");
  ShellResult result;
  const platform::SessionEndHandler ending([&] {
    if (process.Stop()) result.kind = ShellResult::kAbandoned;
    process.Wait(kSessionEndPatienceMs);
  });
  std::optional<Clock::time_point> closed;
  while (!process.Over()) {
    // Nothing the program started outlives its window; a run that ended
    // as the window closed was not stopped, and its output is judged.
    if (!closed && !platform::PumpEvents()) {
      if (process.Stop()) result.kind = ShellResult::kAbandoned;
      closed = Clock::now();
    }
    if (closed && Clock::now() - *closed > kStopPatience) {
      result.kind = ShellResult::kAbandoned;
      break;
    }
    platform::WaitForProcessOrEvents(process, kWaitSliceMs);
  }
  result.exit = process.Exit();
  DebugTrace("E4");
  return result;
}

}  // namespace basFunctions
