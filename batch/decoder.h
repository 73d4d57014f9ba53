// The decoder's side of one MP3 file, free of any system call: the name
// test, the command line, and the check of a WAV file's header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace basFunctions {

// True when the last three characters of `name` (all of it when shorter)
// are "mp3" in any letter case. There is deliberately no check for a dot.
bool IsMp3Name(const std::string& name);

// The WAV path the decoder writes for the MP3 `name`: the audio folder, the
// separator, then the name with "wav" in place of its last three characters.
std::string WavPathFor(const std::string& audioFolder, char separator,
                       const std::string& name);

// decoderPath + " --decode " + " " + shortMp3 + " \"" + wavPath + "\"", with
// decoderPath and shortMp3 quoted when they hold a space, and the same four
// pieces as an argument vector.
platform::CommandLine DecoderCommand(const std::string& decoderPath,
                                     const std::string& shortMp3,
                                     const std::string& wavPath);

// Whether Windows takes `name` for a device rather than a file: the part
// before the first dot, spaces after it ignored, is CON, PRN, AUX, NUL,
// COM0-COM9, LPT0-LPT9 (and with a superscript 1, 2 or 3), CONIN$ or
// CONOUT$, in any letter case. Such a name must only ever be reached
// through "\\?\" paths, never handed to the decoder.
bool IsDeviceName(const std::string& name);

// The n-th temporary name of the program with process ID `process`:
// "lsk<process>_<n><suffix>", ASCII, never ending in "mp3".
std::string TemporaryName(std::int64_t process, std::uint32_t n,
                          const std::string& suffix);

// The process whose temporary file `name` is ("lsk<process>_<n>.mpg" or
// ".tmp", exactly), or -1 when it is no such name.
long long TemporaryOwner(const std::string& name);

// `text` as the log shows it: a character that ends a line (C0 and C1
// controls, DEL, U+2028, U+2029) or reorders the text after it (the
// bidirectional embeddings, overrides and isolates) becomes U+FFFD, as
// the window shows bytes that are not UTF-8. A name holding one could add
// a line of its own to the log, or turn the rest of its line around.
std::string Shown(const std::string& text);

// Why the decoder must not be run for the MP3 file `mp3` whose WAV name
// holds `wav`, or "" when it may. `writtenFor`: the MP3 this batch has
// already written that WAV file for, or "".
std::string Refusal(const platform::FileState& mp3,
                    const platform::FileState& wav,
                    const std::string& writtenFor);

// How the decoder is handed an MP3 and its output. kDirect: the MP3's own
// short path, and a temporary in the audio folder named by the folder's
// path. kStaged: the decoder runs in the audio folder on ASCII names of the
// program's own, for an MP3 without a short path, one whose name Windows
// takes for a device (where `deviceNames`), or a name or path the decoder
// would not read exactly (`reads`).
enum class Route { kDirect, kStaged };
Route ChooseRoute(const std::string& name, const std::string& shortMp3,
                  const std::string& folder, bool (*reads)(const std::string&),
                  bool deviceNames);

// kMissing: nothing was written (an empty file, or none); kUnreadable: the
// file is there but could not be read.
enum class WavCheck { kComplete, kMissing, kIncomplete, kNoAudio, kUnreadable };

// Enough of a WAV file's start to find the "data" chunk behind "fmt " and
// the odd LIST or fact chunk a decoder may put first.
constexpr std::size_t kWavHeadBytes = 64 * 1024;

// A decoded file is complete when it starts with a RIFF/WAVE header, has a
// "data" chunk, and is at least as long as the header and that chunk claim;
// a complete file whose data chunk is empty holds no audio; an empty file
// is no WAV file at all. The test on the file's first kWavHeadBytes bytes
// (or all of it) and its full size.
WavCheck CheckWavHeader(const std::string& head, unsigned long long fileSize);

// The last line of a decoder's error output that holds more than spaces,
// trimmed, as the log shows it; its progress lines end in CR and
// backspaces, not LF.
std::string LastLine(const std::string& output);

// Why a run that ended on its own does not give the WAV file, or "" when
// its output, judged `output`, may replace it.
std::string Verdict(const platform::ProcessExit& exit, WavCheck output);

}  // namespace basFunctions
