// What the core's tests share: real temporary folders, the stand-in
// decoder's record of its runs, and a batch run against the headless window
// that notes what the window showed at every event pump.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/basFunctions.h"
#include "platform/controls.h"
#include "window/frmMain.h"

namespace platform {
// Lets GoogleTest print colours in failure messages.
void PrintTo(const Rgb& color, std::ostream* out);
}  // namespace platform

namespace testing_support {

namespace fs = std::filesystem;

inline const platform::Rgb kBlack{0, 0, 0};
inline const platform::Rgb kRed{255, 0, 0};
inline const platform::Rgb kGreen{0, 128, 0};

inline bool OnWindows() { return platform::kPathSeparator == '\\'; }

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A folder made under `base` whose path is exactly `length` characters long.
fs::path MakeFolderOfLength(const fs::path& base, std::size_t length);

void WriteTextFile(const fs::path& path, const std::string& text);
void SetEnvironment(const std::string& name, const std::string& value);

// One line of the stand-in's log.
struct DecoderRun {
  std::vector<std::string> argv;
  std::string commandLine;  // Windows only: the raw command line
};

struct DecoderLog {
  std::vector<DecoderRun> runs;
  int overlaps = 0;
};

DecoderLog ReadDecoderLog(const fs::path& path);

// The window's state at one moment.
struct Shown {
  std::string status;
  platform::Rgb color;
  std::string percent;
  float bar;
  bool operator==(const Shown& o) const {
    return status == o.status && color == o.color && percent == o.percent &&
           bar == o.bar;
  }
};
void PrintTo(const Shown& shown, std::ostream* out);

struct BatchResult {
  std::string log;
  Shown last;                  // after Main returned
  std::vector<Shown> atPumps;  // at each event pump, repeats dropped
  DecoderLog decoder;
  double seconds = 0;  // how long Main took
};

// A batch on a folder of its own: `audio` is the application folder, the
// stand-in's log lies beside it so that it is not one of the listed files.
class BatchFixture {
 public:
  BatchFixture();
  ~BatchFixture();

  // Writes a file into the audio folder; for an MP3 its text is the
  // stand-in's directive.
  void Add(const std::string& name, const std::string& text = "ok");

  basFunctions::BatchSetup Setup() const;
  // Runs Main; `onPump` runs inside every event pump after the window's
  // state has been noted.
  BatchResult Run(const basFunctions::BatchSetup& setup,
                  const std::function<void(frmMain&)>& onPump = {});
  BatchResult Run() { return Run(Setup()); }

  // The audio folder as the batch names it (its short form) and the path of
  // one of its files as the listing reports it.
  std::string Folder() const;
  std::string PathOf(const std::string& name) const;

  const fs::path& root() const { return root_.path(); }
  const fs::path& audio() const { return audio_; }
  fs::path LogPath() const { return root_.path() / "standin.log"; }

 private:
  TempFolder root_;
  fs::path audio_;
};

// Messages joined as the log joins them.
std::string JoinLog(const std::vector<std::string>& messages);

// "Progress: " + whole + the locale's separator + tenth + "%".
std::string Percent(const std::string& whole, const std::string& tenth = "");

}  // namespace testing_support
