#include "tests/support/support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace support {

TempFolder::TempFolder() {
  std::random_device random;
  for (;;) {
    path_ = fs::temp_directory_path() /
            ("larkspire-test-" + std::to_string(random()));
    if (fs::create_directory(path_)) return;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ToneMp3(double seconds) {
  TempFolder scratch;
  std::string samples;  // 16-bit mono at 8000 Hz, for LAME's raw input
  for (int i = 0; i < seconds * 8000; ++i) {
    const auto value = static_cast<std::int16_t>(8000 * std::sin(i * 0.35));
    samples += {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  }
  const fs::path raw = scratch.path() / "t.raw", mp3 = scratch.path() / "t.mp3";
  WriteFile(raw, samples);
  const std::string command = "lame --quiet -r -s 8 --bitwidth 16 -m m '" +
                              raw.string() + "' '" + mp3.string() +
                              "' 2>/dev/null";
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("lame could not encode a tone");
  return ReadFile(mp3);
}

}  // namespace support
