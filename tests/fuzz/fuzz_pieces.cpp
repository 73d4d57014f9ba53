// Properties of the batch's pure pieces on arbitrary input; the first byte
// picks the piece:
//   0  the WAV check: 8 bytes of file size (little-endian), then the head
//   1  the percentage text: 8 bytes of a double, then the separator
//   2  names: a separator byte, then folder, name, decoder and short MP3
//      path split at NUL bytes
// Built with bounds-checked strings, so a read past the input stops the run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "batch/decoder.h"
#include "batch/progress.h"

#define CHECK(condition) \
  if (!(condition))      \
  std::fprintf(stderr, "failed: %s\n", #condition), std::abort()

namespace {

using namespace basFunctions;

// The verdict only improves as the file grows, and never claims absence.
void Wav(const std::string& in) {
  std::uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | std::uint8_t(in[i]);
  const std::string head = in.substr(8);
  const basFunctions::WavCheck check = CheckWavHeader(head, size);
  CHECK(check != WavCheck::kMissing);
  if (check == WavCheck::kComplete) {
    CHECK(CheckWavHeader(head, size + 1) == WavCheck::kComplete ||
          size == std::numeric_limits<std::uint64_t>::max());
    CHECK(head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "WAVE") == 0);
  }
}

// "Progress: " + an optional minus, digits, at most one decimal + "%", and
// within half a tenth of the value.
void Percent(const std::string& in) {
  double value;
  std::memcpy(&value, in.data(), sizeof value);
  if (!std::isfinite(value) || std::fabs(value) > 1e15) return;
  const std::string separator = in.size() > 8 && in[8] == ',' ? "," : ".";
  const std::string text = PercentCaption(value, separator);
  CHECK(text.compare(0, 10, "Progress: ") == 0 && text.back() == '%');
  std::string number = text.substr(10, text.size() - 11);
  const auto dot = number.find(separator);
  if (dot != std::string::npos) {
    CHECK(dot + 2 == number.size() && number.back() != '0');
    number[dot] = '.';
  }
  const std::size_t digits = number[0] == '-' ? 1 : 0;
  CHECK(number.size() > digits && std::isdigit(std::uint8_t(number[digits])));
  CHECK(std::fabs(std::strtod(number.c_str(), nullptr) - value) <=
        0.05 + 1e-9 + std::fabs(value) * 1e-12);
}

// Only the last three characters count, in any letter case; the WAV lies
// in the folder; the command line quotes the WAV path at its end.
void Names(const std::string& in) {
  std::vector<std::string> f(1);
  for (std::size_t i = 1; i < in.size(); ++i)
    in[i] == '\0' && f.size() < 4 ? f.emplace_back() : f.back() += in[i];
  f.resize(4);
  const std::string &folder = f[0], &name = f[1];
  if (name.size() >= 3) {
    CHECK(IsMp3Name(name) == IsMp3Name("x" + name));
    CHECK(IsMp3Name(name) == IsMp3Name(name.substr(name.size() - 3)));
  }
  const std::string wav = WavPathFor(folder, in[0], name);
  CHECK(wav.rfind(folder + in[0], 0) == 0);
  CHECK(wav.size() >= 3 && wav.compare(wav.size() - 3, 3, "wav") == 0);
  const platform::CommandLine c = DecoderCommand(f[2], f[3], wav);
  CHECK(c.argv.size() == 4 && c.argv[2] == f[3] && c.argv[3] == wav);
  CHECK(c.text.size() > wav.size() + 2 &&
        c.text.compare(c.text.size() - wav.size() - 2, wav.size() + 2,
                       "\"" + wav + "\"") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 9) return 0;
  const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      return Wav(in), 0;
    case 1:
      return Percent(in), 0;
    default:
      return Names(in), 0;
  }
}
