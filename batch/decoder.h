// The decoder's side of one MP3 file, free of any system call: the name
// test, the command line, and the check of a WAV file's header.
#pragma once

#include <cstddef>
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
// shortMp3 quoted when it holds a space, and the same four pieces as an
// argument vector.
platform::CommandLine DecoderCommand(const std::string& decoderPath,
                                     const std::string& shortMp3,
                                     const std::string& wavPath);

// Whether Windows takes `name` for a device rather than a file: the part
// before the first dot, spaces after it ignored, is CON, PRN, AUX, NUL,
// COM0-COM9, LPT0-LPT9 (and with a superscript 1, 2 or 3), CONIN$ or
// CONOUT$, in any letter case. Such a name must only ever be reached
// through "\\?\" paths, never handed to the decoder.
bool IsDeviceName(const std::string& name);

// The process whose temporary file `name` is ("lsk<process>_<n>.mpg" or
// ".tmp", exactly), or -1 when it is no such name.
long long TemporaryOwner(const std::string& name);

// kUnreadable: the file is there but could not be opened for reading.
enum class WavCheck { kComplete, kMissing, kIncomplete, kNoAudio, kUnreadable };

// Enough of a WAV file's start to find the "data" chunk behind "fmt " and
// the odd LIST or fact chunk a decoder may put first.
constexpr std::size_t kWavHeadBytes = 64 * 1024;

// A decoded file is complete when it starts with a RIFF/WAVE header, has a
// "data" chunk, and is at least as long as the header and that chunk claim;
// a complete file whose data chunk is empty holds no audio. The test on the
// file's first kWavHeadBytes bytes (or all of it) and its full size.
WavCheck CheckWavHeader(const std::string& head, unsigned long long fileSize);

}  // namespace basFunctions
