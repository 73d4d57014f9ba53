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

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool IsDeviceName(const std::string& name) {
  std::string stem = Upper(name.substr(0, name.find('.')));
  stem.erase(stem.find_last_not_of(' ') + 1);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" ||
      stem == "CONIN$" || stem == "CONOUT$")
    return true;
  if (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)
    return false;
  const std::string number = stem.substr(3);
  // Superscript one, two and three in UTF-8.
  return (number.size() == 1 && AllDigits(number)) || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

long long TemporaryOwner(const std::string& name) {
  const auto underscore = name.find('_');
  const auto dot = name.rfind('.');
  if (name.compare(0, 3, "lsk") != 0 || underscore == std::string::npos ||
      dot == std::string::npos || dot < underscore)
    return -1;
  const std::string process = name.substr(3, underscore - 3);
  const std::string suffix = name.substr(dot);
  if (!AllDigits(process) || process.size() > 10 ||
      !AllDigits(name.substr(underscore + 1, dot - underscore - 1)) ||
      (suffix != ".mpg" && suffix != ".tmp"))
    return -1;
  return std::stoll(process);
}

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
