// What the hostile cases share: real MP3 content encoded by LAME, a batch
// run that also proves the window still works afterwards, the folder tree
// before and after, and the checks every case ends with. Linux only: the
// cases reach for FIFOs, symlinks, mounts and other users.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch/basFunctions.h"
#include "tests/core/test_folder.h"
#include "tests/hostile/children.h"
#include "window/frmMain.h"

namespace hostile {

namespace fs = std::filesystem;
using testing_support::BatchFixture;
using testing_support::Shown;

// The decoder the shipped program runs.
inline constexpr char kLame[] = "/usr/bin/lame";

inline constexpr char kCompleted[] =
    "Larkspire Decompress utility has completed all actions.";
inline constexpr char kFatal[] =
    "The Larkspire decompress utility cannot continue.";

// A mono 440 Hz tone of `seconds` as a WAV file, the MP3 that LAME encodes
// from it, and the WAV file LAME decodes that MP3 to when it is named like
// `name`: LAME decodes a name without the ".mp3" extension slightly
// differently. Each is made once.
std::string ToneWav(double seconds);
std::string ToneMp3(double seconds);
std::string ToneDecoded(double seconds, const std::string& name);

std::string ReadFile(const fs::path& path);

// The sample bytes of a complete 16-bit PCM WAV file (header, "fmt " and
// every byte its "data" chunk claims present), or -1 for anything else.
long long WavDataBytes(const std::string& bytes);

// A folder tree as lstat sees it, by path relative to the folder: each
// entry's kind, with size and content hash for files and the target of
// links. FIFOs and sockets are never opened.
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const fs::path& folder);

struct BatchRun {
  std::string folder;  // the application folder the batch was given
  std::string log;
  Shown last;                  // after Main returned
  std::vector<Shown> atPumps;  // at each event pump, repeats dropped
  double seconds = 0;          // how long Main took
  long pumps = 0;
  std::string savedLog;  // what Save Log wrote after the batch
  std::vector<std::string> errorBoxes;
  Tree before, after;  // the application folder's tree
  std::vector<int> children;
};

// Runs Main on the headless window, then presses Save Log to show the
// program still works. `onPump` runs inside every event pump.
BatchRun RunBatch(BatchFixture& batch, const basFunctions::BatchSetup& setup,
                  const std::function<void(frmMain&)>& onPump = {});

struct Report {
  std::string name;
  std::string reason;  // empty when the file was reported decoded
};

// The checks every case that runs to its end shares: the log is the folder
// line, then for each MP3 in listing order its "Decoding" line and one
// report (decoded, or failed in red with a known reason), then the final
// message (green, or the red summary with the right counts); the label
// shows 100% and each report its file's share; every file reported decoded
// has a complete WAV file; nothing in the folder changed but the MP3s' WAV
// files; Save Log wrote the whole log; no child process is left.
// `listed` names the folder's listed files in any order. Returns the MP3s'
// reports in listing order.
std::vector<Report> ExpectSoundEnd(const BatchRun& run,
                                   std::vector<std::string> listed);

// The WAV name the batch derives from an MP3's name.
std::string WavName(const std::string& mp3Name);
// The name test, as the user sees it: the last three characters.
bool LooksLikeMp3(const std::string& name);

}  // namespace hostile
