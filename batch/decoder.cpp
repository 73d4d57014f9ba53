#include "batch/decoder.h"

#include <cctype>
#include <cstdint>
#include <cstdio>

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

// The length of the UTF-8 sequence at `at` that Shown replaces, or 0.
std::size_t Unshowable(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
  };
  if (byte(0) < 0x20 || byte(0) == 0x7F) return 1;
  if (byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) return 2;
  if (byte(0) != 0xE2) return 0;
  if (byte(1) == 0x80 && byte(2) >= 0xA8 && byte(2) <= 0xAE) return 3;
  if (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9) return 3;
  return 0;
}

// An exception code as Windows writes it: 0xC0000005.
std::string Hex(int code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

// What a Windows exception status says, in words a user can look up.
std::string CrashWords(int code) {
  switch (static_cast<unsigned>(code)) {
    case 0xC0000135u:  // STATUS_DLL_NOT_FOUND: a DLL it was built with
      return "a DLL the decoder needs is missing";
    case 0xC000013Au:  // STATUS_CONTROL_C_EXIT
      return "the decoder was interrupted (Ctrl+C, or its console closed)";
    case 0xE06D7363u:  // what Microsoft's C++ runtime throws with
      return "the decoder failed on a C++ exception it did not handle";
    case 0x80000003u:  // STATUS_BREAKPOINT
      return "the decoder stopped at a breakpoint";
    default:
      return "the decoder crashed";
  }
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

std::string TemporaryName(std::int64_t process, std::uint32_t n,
                          const std::string& suffix) {
  return "lsk" + std::to_string(process) + "_" + std::to_string(n) + suffix;
}

long long TemporaryOwner(const std::string& name) {
  // Only the names TemporaryName makes: lower case, and both numbers in
  // canonical decimal (no leading zero, no 0, 32 bits at most), so that no
  // user's "lsk007_1.mpg" is taken for one.
  const auto number = [](const std::string& digits) -> long long {
    if (!AllDigits(digits) || digits[0] == '0' || digits.size() > 10) return -1;
    const long long value = std::stoll(digits);
    return value <= 0xFFFFFFFFLL ? value : -1;
  };
  const auto underscore = name.find('_');
  const auto dot = name.rfind('.');
  if (name.compare(0, 3, "lsk") != 0 || underscore == std::string::npos ||
      dot == std::string::npos || dot < underscore)
    return -1;
  const std::string suffix = name.substr(dot);
  if ((suffix != ".mpg" && suffix != ".tmp") ||
      number(name.substr(underscore + 1, dot - underscore - 1)) < 0)
    return -1;
  return number(name.substr(3, underscore - 3));
}

std::string Shown(const std::string& text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Unshowable(text, at);
    shown += length ? std::string("\xEF\xBF\xBD") : std::string(1, text[at]);
    at += length ? length : 1;
  }
  return shown;
}

std::string Refusal(const platform::FileState& mp3,
                    const platform::FileState& wav,
                    const std::string& writtenFor) {
  using State = platform::FileState;
  if (mp3.kind == State::kNone) return "the MP3 file could not be found";
  // A FIFO the decoder would wait on for ever.
  if (mp3.kind == State::kOther) return "the MP3 file is not a file";
  if (wav.kind == State::kOther)
    return "its WAV file name is taken by something that is not a file";
  if (wav.SameFileAs(mp3)) return "its WAV file would replace the MP3 itself";
  // Replacing it would break a link the user made, to a file outside the
  // folder or another name of the same file.
  if (wav.link || wav.links > 1) return "its WAV file name is a link";
  // Root on Linux, and Wine, would replace it; Windows would not.
  if (wav.kind == State::kFile && wav.readOnly)
    return "its WAV file is read-only";
  if (wav.kind == State::kFile && !writtenFor.empty())
    return "its WAV file was already written for " + Shown(writtenFor);
  return "";
}

Route ChooseRoute(const std::string& name, const std::string& shortMp3,
                  const std::string& folder, bool (*reads)(const std::string&),
                  bool deviceNames) {
  // LAME looks its input up by its long name too (under Wine "Ωmega.mp3",
  // reached by its short path, was opened as "Omega.mp3").
  const bool direct = !shortMp3.empty() &&
                      !(deviceNames && IsDeviceName(name)) && reads(shortMp3) &&
                      reads(folder) && reads(name);
  return direct ? Route::kDirect : Route::kStaged;
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
  // A volume without 8.3 names gives the long path back, and the decoder
  // may be found in "Program Files": one with a space must not fall apart
  // into several arguments.
  const auto quoted = [](const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  };
  command.text = quoted(decoderPath) + " --decode " + " " + quoted(shortMp3) +
                 " \"" + wavPath + "\"";
  command.argv = {decoderPath, "--decode", shortMp3, wavPath};
  return command;
}

WavCheck CheckWavHeader(const std::string& head, unsigned long long fileSize) {
  if (fileSize == 0) return WavCheck::kMissing;
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

std::string LastLine(const std::string& output) {
  const char kBlank[] = " \t\b";
  std::size_t end = output.size();
  for (;;) {
    const std::size_t start = output.find_last_of("\r\n", end - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    const std::string line = output.substr(from, end - from);
    const std::size_t first = line.find_first_not_of(kBlank);
    if (first != std::string::npos)
      return Shown(
          line.substr(first, line.find_last_not_of(kBlank) + 1 - first));
    if (start == std::string::npos || start == 0) return "";
    end = start;
  }
}

std::string Verdict(const platform::ProcessExit& exit, WavCheck output) {
  using Exit = platform::ProcessExit;
  if (exit.kind == Exit::kSignaled)
    return "the decoder was stopped by signal " + std::to_string(exit.code);
  if (exit.kind == Exit::kCrashed)
    return CrashWords(exit.code) + ": " + Hex(exit.code);
  if (exit.code != 0)
    return "the decoder exited with code " + std::to_string(exit.code);
  switch (output) {
    case WavCheck::kComplete:
      return "";
    case WavCheck::kMissing:
      return "no WAV file was written";
    case WavCheck::kIncomplete:
      return "the WAV file is incomplete";
    case WavCheck::kNoAudio:
      return "the WAV file holds no audio";
    case WavCheck::kUnreadable:
      break;
  }
  return "the WAV file could not be read";
}

}  // namespace basFunctions
