#include "batch/basFunctions.h"

#include <new>
#include <vector>

#include "batch/decoder.h"
#include "batch/progress.h"
#include "window/frmMain.h"

namespace basFunctions {

namespace {

constexpr std::uint32_t kShortPathBuffer = 512;
constexpr std::int32_t kHidden = 0;
constexpr unsigned kWaitSliceMs = 500;

const char kFatalSuffix[] = "The Larkspire decompress utility cannot continue.";
const char kCompleted[] =
    "Larkspire Decompress utility has completed all actions.";

// The first n characters of the buffer when the call succeeded and the
// answer fit; empty otherwise, never a cut or unterminated path.
std::string ShortForm(const std::string& path, std::vector<char>& buffer,
                      std::uint32_t& n) {
  n = platform::GetShortPathNameA(path, buffer.data(),
                                  static_cast<std::uint32_t>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return "";
  return std::string(buffer.data(), n);
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string FailureReason(const ShellResult& run, const std::string& wavPath) {
  if (run.exit.kind == platform::ProcessExit::kSignaled)
    return "the decoder was stopped by signal " + std::to_string(run.exit.code);
  if (run.exit.code != 0)
    return "the decoder exited with code " + std::to_string(run.exit.code);
  switch (CheckWavFile(wavPath)) {
    case WavCheck::kMissing:
      return "no WAV file was written";
    case WavCheck::kIncomplete:
      return "the WAV file is incomplete";
    case WavCheck::kComplete:
      break;
  }
  return "";
}

// The state of one batch run.
struct Batch {
  frmMain& form;
  const BatchSetup& setup;
  std::string audioFolder;
  std::vector<char> shortPathBuffer = std::vector<char>(kShortPathBuffer);
  std::int32_t counter = 1;
  double step = 0.0;
  std::int32_t mp3Count = 0;
  std::int32_t failures = 0;

  void ShowProgress() { form.pbProgress.SetValue(BarValue(counter, step)); }
  void Advance() { AddToCounter(counter, 1); }

  // Runs the decoder on one MP3 and reports it. Returns false when the user
  // closed the window meanwhile.
  bool Decode(const platform::FileEntry& file);
  // Returns early, writing nothing more, when the user closes the window.
  void Run();
  void Finish();
};

bool Batch::Decode(const platform::FileEntry& file) {
  DebugTrace("12");
  ShowStatus(form, "Decoding " + file.Name + "...", 0, 0, 0);
  DebugTrace("13");
  std::uint32_t n = 0;
  const std::string shortMp3 = ShortForm(file.Path, shortPathBuffer, n);
  DebugTrace("14 (" + std::to_string(n) + ")");
  const std::string wavPath =
      WavPathFor(audioFolder, setup.separator, file.Name);
  const platform::CommandLine command =
      DecoderCommand(setup.decoderPath, shortMp3, wavPath);
  DebugTrace("15 (" + command.text + ")");

  // The decoder would be handed an empty input path; report it instead.
  std::string reason = "its short path could not be resolved";
  if (!shortMp3.empty()) {
    const ShellResult run = ShellAndWait(command, kHidden);
    if (run.kind == ShellResult::kAbandoned) return false;
    reason = FailureReason(run, wavPath);
  }

  DebugTrace("16");
  ShowProgress();
  Advance();
  DebugTrace("17");
  ShowProgress();
  Advance();
  DebugTrace("18");
  if (reason.empty()) {
    ShowStatus(form, file.Path + " decoding complete.", 0, 0, 0);
  } else {
    ++failures;
    ShowStatus(form, file.Path + " decoding failed (" + reason + ").", 255, 0,
               0);
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
  ShowStatus(form, "Audio folder: " + setup.applicationFolder, 0, 0, 0);
  DebugTrace("2");
  DebugTrace("3");
  audioFolder = GetShortPath(setup.applicationFolder);
  DebugTrace("4");
  if (!platform::FolderExists(audioFolder)) {
    DebugTrace("5");
    ShowStatus(form, "Error: The folder could not be found.", 255, 0, 0);
    return;
  }
  DebugTrace("6");
  const std::vector<platform::FileEntry> files =
      platform::ListFiles(audioFolder);
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
  ShowStatus(form,
             "Error " + std::to_string(number) + ": " + description +
                 kFatalSuffix,
             255, 0, 0);
}

}  // namespace

BatchSetup ProgramSetup() {
  return {platform::ApplicationFolder(), platform::kDecoderPath,
          platform::kPathSeparator};
}

void Main(frmMain& form, const BatchSetup& setup) {
  Batch batch{form, setup, {}};
  try {
    batch.Run();
  } catch (const platform::Error& e) {
    if (!form.Closed()) ReportError(form, e.Number(), e.Description());
  } catch (const std::bad_alloc&) {
    if (!form.Closed())
      ReportError(form, platform::kErrOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    if (!form.Closed()) ReportError(form, platform::kErrInternal, e.what());
  }
}

std::string GetShortPath(const std::string& path) {
  DebugTrace("D1");
  std::vector<char> buffer(kShortPathBuffer);
  std::uint32_t n = 0;
  // Trimmed only when the path as given does not resolve: Windows drops a
  // name's trailing spaces itself, but on Linux "audio " and "audio" are two
  // folders, and trimming first would decode the wrong one.
  std::string result = ShortForm(path, buffer, n);
  if (result.empty()) result = ShortForm(Trim(path), buffer, n);
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
    if (!platform::PumpEvents()) {
      result.kind = ShellResult::kAbandoned;
      return result;
    }
    if (platform::WaitForProcessOrEvents(process, kWaitSliceMs)) break;
  }
  result.exit = process.Exit();
  DebugTrace("E4");
  return result;
}

}  // namespace basFunctions
