// Properties of the batch's pure pieces on arbitrary input; the first byte
// picks the piece:
//   even  the WAV check: 8 bytes of file size (little-endian), then the head
//   odd   the percentage text: 8 bytes of a double, then the separator
// Built with bounds-checked strings, so a read past the input stops the run.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <string>

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

// "Progress: " + an optional minus, digits, at most one decimal that is
// not 0 + "%", and within half a tenth of the value.
void Percent(const std::string& in) {
  static const std::regex kShape("Progress: -?[0-9]+([.,][1-9])?%");
  double value;
  std::memcpy(&value, in.data(), sizeof value);
  if (!std::isfinite(value) || std::fabs(value) > 1e15) return;
  std::string text = PercentCaption(value, in[8] == ',' ? "," : ".");
  CHECK(std::regex_match(text, kShape));
  std::replace(text.begin(), text.end(), ',', '.');
  CHECK(std::fabs(std::strtod(text.c_str() + 10, nullptr) - value) <=
        0.05 + 1e-9 + std::fabs(value) * 1e-12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 9) return 0;
  const std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
  data[0] % 2 ? Percent(in) : Wav(in);
  return 0;
}
