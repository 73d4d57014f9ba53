// The decoder's side of one file without running anything: the name test,
// the WAV path, the command line, and the check of a WAV file's header.
#include <cstdint>
#include <string>

#include "batch/decoder.h"
#include "gtest/gtest.h"
#include "test_folder.h"

namespace basFunctions {
namespace {

TEST(IsMp3NameTest, LooksAtTheLastThreeCharactersOnly) {
  const struct {
    const char* name;
    bool mp3;
  } cases[] = {
      {"song.mp3", true},      {"SONG.MP3", true},   {"Song.Mp3", true},
      {"demomp3", true},       {"mp3", true},        {"xmP3", true},
      {"song.mp3.bak", false}, {"mp", false},        {"", false},
      {"song.mp4", false},     {"song.mp3 ", false}, {"p3", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsMp3Name(c.name), c.mp3) << c.name;
}

TEST(WavPathForTest, ReplacesTheLastThreeCharacters) {
  const struct {
    const char* folder;
    char separator;
    const char* name;
    const char* wav;
  } cases[] = {
      {"/music", '/', "song.mp3", "/music/song.wav"},
      {"/music", '/', "TRACK.MP3", "/music/TRACK.wav"},
      {"/music", '/', "demomp3", "/music/demowav"},
      {"/music", '/', "mp3", "/music/wav"},
      {"C:\\MUSICF~1", '\\', "My Song.mp3", "C:\\MUSICF~1\\My Song.wav"},
      // A root keeps its own separator, so the result doubles it.
      {"/", '/', "Song.mp3", "//Song.wav"},
      {"C:\\", '\\', "Song.mp3", "C:\\\\Song.wav"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WavPathFor(c.folder, c.separator, c.name), c.wav) << c.name;
}

TEST(DecoderCommandTest, TextHasTwoSpacesAndQuotesOnlyTheOutput) {
  const platform::CommandLine command = DecoderCommand("D", "IN", "OUT");
  EXPECT_EQ(command.text, "D --decode  IN \"OUT\"");
  EXPECT_EQ(command.argv,
            (std::vector<std::string>{"D", "--decode", "IN", "OUT"}));

  const platform::CommandLine example =
      DecoderCommand("C:\\Progra~1\\Lame\\lame.exe",
                     "C:\\MUSICF~1\\MYSONG~1.MP3", "C:\\MUSICF~1\\My Song.wav");
  EXPECT_EQ(example.text,
            "C:\\Progra~1\\Lame\\lame.exe --decode  C:\\MUSICF~1\\MYSONG~1.MP3 "
            "\"C:\\MUSICF~1\\My Song.wav\"");
}

// ---- WAV check
// ---------------------------------------------------------------

std::string Le32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string Chunk(const std::string& id, const std::string& body,
                  std::uint32_t claimed) {
  std::string chunk = id + Le32(claimed) + body;
  if (body.size() % 2 == 1) chunk += '\0';  // padded to even length
  return chunk;
}
std::string Chunk(const std::string& id, const std::string& body) {
  return Chunk(id, body, static_cast<std::uint32_t>(body.size()));
}

const std::string kFmt = Chunk("fmt ", std::string(16, '\x01'));

// RIFF header with a size that matches `chunks`.
std::string Riff(const std::string& chunks) {
  return "RIFF" + Le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" +
         chunks;
}

struct WavCase {
  const char* what;
  std::string bytes;
  long long sizeDelta;  // the file's size relative to bytes.size()
  WavCheck expected;
};

TEST(CheckWavHeaderTest, Table) {
  const std::string data = Chunk("data", std::string(100, '\0'));
  const std::string oddList = Chunk("LIST", std::string(5, 'L'));
  const WavCase cases[] = {
      {"plain", Riff(kFmt + data), 0, WavCheck::kComplete},
      {"trailing bytes", Riff(kFmt + data), 10, WavCheck::kComplete},
      {"data cut short", Riff(kFmt + data), -1, WavCheck::kIncomplete},
      {"data claims more than the RIFF size",
       "RIFF" + Le32(4 + 24 + 108) + "WAVE" + kFmt +
           Chunk("data", std::string(100, '\0'), 5000),
       0, WavCheck::kIncomplete},
      {"no data chunk", Riff(kFmt), 0, WavCheck::kIncomplete},
      {"odd LIST chunk before data", Riff(kFmt + oddList + data), 0,
       WavCheck::kComplete},
      {"RIFF size beyond the file",
       "RIFF" + Le32(4 + 24 + 108 + 2) + "WAVE" + kFmt + data, 0,
       WavCheck::kIncomplete},
      {"wrong RIFF magic", "RIFX" + Riff(kFmt + data).substr(4), 0,
       WavCheck::kIncomplete},
      {"wrong WAVE magic",
       Riff(kFmt + data).substr(0, 8) + "AVI " + Riff(kFmt + data).substr(12),
       0, WavCheck::kIncomplete},
      {"shorter than a RIFF header", "RIFF" + Le32(4), 0,
       WavCheck::kIncomplete},
      {"empty", "", 0, WavCheck::kIncomplete},
  };
  for (const WavCase& c : cases) {
    const auto size = static_cast<unsigned long long>(
        static_cast<long long>(c.bytes.size()) + c.sizeDelta);
    EXPECT_EQ(CheckWavHeader(c.bytes, size), c.expected) << c.what;
  }
}

// A chunk that claims nearly 4 GiB must end the walk. Where size_t has 32
// bits, the step past it can wrap round to the same chunk and loop for ever.
TEST(CheckWavHeaderTest, HugeChunkSizeEndsTheWalk) {
  for (const std::uint32_t size : {0xFFFFFFF8u, 0xFFFFFFF3u, 0xFFFFFFFFu}) {
    const std::string head =
        "RIFF" + Le32(4 + 8) + "WAVE" + "JUNK" + Le32(size);
    EXPECT_EQ(CheckWavHeader(head, head.size()), WavCheck::kIncomplete) << size;
  }
}

TEST(CheckWavFileTest, MissingEmptyAndCompleteFiles) {
  testing_support::TempFolder folder;
  const auto path = folder.path() / "out.wav";
  EXPECT_EQ(CheckWavFile(path.string()), WavCheck::kMissing);
  testing_support::WriteTextFile(path, "");
  EXPECT_EQ(CheckWavFile(path.string()), WavCheck::kIncomplete);
  testing_support::WriteTextFile(
      path, Riff(kFmt + Chunk("data", std::string(64, '\0'))));
  EXPECT_EQ(CheckWavFile(path.string()), WavCheck::kComplete);
  // A folder where the WAV should be is no WAV file.
  testing_support::TempFolder other;
  EXPECT_NE(CheckWavFile(other.path().string()), WavCheck::kComplete);
}

}  // namespace
}  // namespace basFunctions
