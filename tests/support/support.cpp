#include "tests/support/support.h"

#include <algorithm>
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

void WriteToneMp3(const fs::path& path) {
  const std::string command =
      "python3 -c 'import sys; sys.path[:0] = [\"" SCRIPTS
      "\"]; import tones; tones.make_mp3(sys.argv[1], 0.3)' '" +
      path.string() + "'";
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("lame could not encode a tone");
}

}  // namespace support
