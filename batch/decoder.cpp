#include "batch/decoder.h"

#include <cctype>
#include <cstdint>

namespace basFunctions {

namespace {

std::string LastThree(const std::string& name) {
  return name.size() <= 3 ? name : name.substr(name.size() - 3);
}

std::uint32_t LittleEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

bool IsMp3Name(const std::string& name) {
  std::string tail = LastThree(name);
  for (char& c : tail)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == "mp3";
}

std::string WavPathFor(const std::string& audioFolder, char separator,
                       const std::string& name) {
  const std::string base =
      name.size() <= 3 ? "" : name.substr(0, name.size() - 3);
  return audioFolder + separator + base + "wav";
}

platform::CommandLine DecoderCommand(const std::string& decoderPath,
                                     const std::string& shortMp3,
                                     const std::string& wavPath) {
  platform::CommandLine command;
  // A volume without 8.3 names gives the long path back; one with a space
  // must not fall apart into several arguments.
  const std::string mp3 = shortMp3.find(' ') == std::string::npos
                              ? shortMp3
                              : "\"" + shortMp3 + "\"";
  command.text =
      decoderPath + " --decode " + " " + mp3 + " \"" + wavPath + "\"";
  command.argv = {decoderPath, "--decode", shortMp3, wavPath};
  return command;
}

WavCheck CheckWavHeader(const std::string& head, unsigned long long fileSize) {
  if (head.size() < 12 || head.compare(0, 4, "RIFF") != 0 ||
      head.compare(8, 4, "WAVE") != 0)
    return WavCheck::kIncomplete;
  if (fileSize < 8ULL + LittleEndian32(head, 4)) return WavCheck::kIncomplete;
  // Walk the chunks to "data"; a file cut short before it is incomplete.
  // 64-bit offsets: a chunk claiming nearly 4 GiB must not wrap a 32-bit
  // size_t back to the start and loop for ever.
  unsigned long long at = 12;
  while (at + 8 <= head.size()) {
    const auto pos = static_cast<std::size_t>(at);
    const unsigned long long size = LittleEndian32(head, pos + 4);
    if (head.compare(pos, 4, "data") != 0) {
      at += 8 + size + (size & 1);  // chunks are padded to even length
      continue;
    }
    if (fileSize < at + 8 + size) return WavCheck::kIncomplete;
    return size == 0 ? WavCheck::kNoAudio : WavCheck::kComplete;
  }
  return WavCheck::kIncomplete;
}

}  // namespace basFunctions
