#include "tests/support/support.h"

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

std::string ToneMp3(double seconds) {
  TempFolder scratch;
  const auto samples = static_cast<std::uint32_t>(seconds * 8000);
  // 16-bit mono PCM at 8000 Hz; the two sizes are filled in below.
  std::string wav(
      "RIFF....WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0"
      "\x80\x3e\0\0\x02\0\x10\0data....",
      44);
  for (std::uint32_t i = 0; i < samples; ++i) {
    const auto value = static_cast<std::int16_t>(8000 * std::sin(i * 0.35));
    wav += static_cast<char>(value & 0xFF);
    wav += static_cast<char>((value >> 8) & 0xFF);
  }
  const std::uint32_t sizes[] = {36 + 2 * samples, 2 * samples};
  for (int i = 0; i < 2; ++i)
    for (int b = 0; b < 4; ++b)
      wav[(i ? 40 : 4) + b] = static_cast<char>((sizes[i] >> (8 * b)) & 0xFF);
  WriteFile(scratch.path() / "t.wav", wav);
  const std::string command = "lame --quiet '" +
                              (scratch.path() / "t.wav").string() + "' '" +
                              (scratch.path() / "t.mp3").string() + "'";
  if (std::system(command.c_str()) != 0)
    throw std::runtime_error("lame could not encode a tone");
  return ReadFile(scratch.path() / "t.mp3");
}

}  // namespace support
