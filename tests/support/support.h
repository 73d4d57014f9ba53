// What every test shares: throwaway folders, whole-file reads and writes,
// and real MP3 files made with the host's LAME.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace support {

namespace fs = std::filesystem;

inline bool OnWindows() { return platform::kPathSeparator == '\\'; }

// A new folder under the system's temporary folder, removed with all it
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

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);
// The names in `folder`, sorted.
std::vector<std::string> Listing(const fs::path& folder);

// A short sine tone made an MP3 by LAME, with scripts/tones.py.
void WriteToneMp3(const fs::path& path);

}  // namespace support
