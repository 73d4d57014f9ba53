// The WAV check on arbitrary headers and file sizes: it never reads past
// the bytes it is given (built with bounds-checked strings), always ends,
// and calls a file complete only when the sizes its header declares fit.
// Input: the file size as 8 little-endian bytes, then the file's first
// bytes.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "batch/decoder.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using basFunctions::CheckWavHeader;
using basFunctions::WavCheck;

std::uint64_t Read32(const std::string& bytes, std::uint64_t at) {
  std::uint64_t value = 0;
  for (int i = 0; i < 4; ++i)
    value |= std::uint64_t{static_cast<unsigned char>(bytes.at(at + i))}
             << (8 * i);
  return value;
}

// Whether the RIFF size and some "data" chunk, found by walking the chunks
// in `head`, both fit in `fileSize`.
bool DeclaredSizesFit(const std::string& head, std::uint64_t fileSize) {
  if (head.size() < 12 || head.compare(0, 4, "RIFF") != 0 ||
      head.compare(8, 4, "WAVE") != 0)
    return false;
  if (fileSize < 8 + Read32(head, 4)) return false;
  for (std::uint64_t at = 12; at + 8 <= head.size();) {
    const std::uint64_t size = Read32(head, at + 4);
    if (head.compare(at, 4, "data") == 0) return at + 8 + size <= fileSize;
    at += 8 + size + (size & 1);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 8) return 0;
  std::uint64_t fileSize = 0;
  for (int i = 7; i >= 0; --i) fileSize = (fileSize << 8) | data[i];
  const std::string head(reinterpret_cast<const char*>(data) + 8, size - 8);

  const WavCheck check = CheckWavHeader(head, fileSize);
  FUZZ_CHECK(check != WavCheck::kMissing);
  if (check != WavCheck::kComplete) return 0;
  FUZZ_CHECK(DeclaredSizesFit(head, fileSize));
  // A longer file with the same start is complete too.
  if (fileSize < std::numeric_limits<std::uint64_t>::max())
    FUZZ_CHECK(CheckWavHeader(head, fileSize + 1) == WavCheck::kComplete);
  FUZZ_CHECK(CheckWavHeader(head, std::numeric_limits<std::uint64_t>::max()) ==
             WavCheck::kComplete);
  return 0;
}
