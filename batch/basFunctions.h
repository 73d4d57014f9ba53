// The decode batch: the start procedure, its checkpoint hook and the two
// helpers through which it runs the decoder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

class frmMain;

namespace basFunctions {

using ShortPathFunction = std::uint32_t (*)(const std::string&, char*,
                                            std::uint32_t);

using MakeNewFileFunction = bool (*)(const std::string&, const std::string&,
                                     const std::function<bool()>&);

// Where a batch works and what it runs. The program passes the application
// folder and the places the platform looks for the decoder in (the first
// that holds a file is run); tests pass their own.
// The rest are the system's answers, which tests replace with those of
// other systems and volumes.
struct BatchSetup {
  std::string applicationFolder;
  std::vector<std::string> decoderPlaces;
  char separator;
  // Whether the decoder reads a name exactly: the Windows build falls back
  // on temporary names.
  bool (*decoderReads)(const std::string&) = platform::DecoderReads;
  // Whether the system takes some names for devices (Windows).
  bool deviceNames = platform::kDeviceNames;
  // A volume without 8.3 names has no short form for a long path.
  ShortPathFunction shortPathName = platform::ShortPathName;
  // A folder the user cannot write refuses the temporary files.
  MakeNewFileFunction makeNewFile = platform::MakeNewFile;
};

BatchSetup ProgramSetup();

// Shows `form` without blocking and decodes every MP3 of the folder into it.
// Returns when the batch ends, however it ends, leaving the window as it is.
void Main(frmMain& form, const BatchSetup& setup);
// The same for the program's own folder and decoder.
void Main(frmMain& form);

// Checkpoint hook: the batch passes short labels here and they are dropped.
inline void DebugTrace(const std::string& /*label*/) {}

// The short (8.3) form of `path` after trimming spaces; empty when the
// system cannot give one or it does not fit platform::kShortPathBuffer.
std::string GetShortPath(
    const std::string& path,
    ShortPathFunction shortPathName = platform::ShortPathName);

// The red line that stops a batch: the error's number and description,
// and then, as a sentence of its own, that the utility cannot continue.
std::string FatalLine(long number, const std::string& description);

// How a decoder run ended, as far as the batch needs to know.
struct ShellResult {
  enum Kind { kEnded, kAbandoned } kind = kEnded;  // kAbandoned: window closed
  platform::ProcessExit exit;
};

// Starts `command` with `windowStyle` and waits for the run to be over (the
// program and all it started ended), keeping the window alive. When the
// user closes the window, or the session ends, it stops the run and all
// the run started, and returns once they have ended. Throws platform::Error
// when the program cannot be started. Its error output goes to `errors`.
ShellResult ShellAndWait(const platform::CommandLine& command,
                         std::int32_t windowStyle,
                         const platform::ErrorOutput* errors = nullptr);

}  // namespace basFunctions
