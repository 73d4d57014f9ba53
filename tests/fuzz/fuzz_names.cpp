// The name test, the WAV path and the decoder's command line on arbitrary
// bytes. Input: a separator byte, then the folder, the file name, the
// decoder's path and the MP3's short path, split at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "batch/decoder.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const char separator = static_cast<char>(data[0]);
  std::vector<std::string> fields(1);
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0 && fields.size() < 4)
      fields.emplace_back();
    else
      fields.back() += static_cast<char>(data[i]);
  }
  fields.resize(4);
  const std::string& folder = fields[0];
  const std::string& name = fields[1];
  const std::string& decoder = fields[2];
  const std::string& shortMp3 = fields[3];

  const std::string last3 =
      name.size() <= 3 ? name : name.substr(name.size() - 3);
  FUZZ_CHECK(basFunctions::IsMp3Name(name) == (LowerAscii(last3) == "mp3"));

  // The folder, the separator, the name without its last three characters
  // and "wav"; for an MP3 name, putting them back gives the MP3's path.
  const std::string wav = basFunctions::WavPathFor(folder, separator, name);
  const std::size_t stem = name.size() <= 3 ? 0 : name.size() - 3;
  FUZZ_CHECK(wav.size() == folder.size() + 1 + stem + 3);
  FUZZ_CHECK(wav.compare(0, folder.size(), folder) == 0);
  FUZZ_CHECK(wav[folder.size()] == separator);
  FUZZ_CHECK(wav.compare(folder.size() + 1, stem, name, 0, stem) == 0);
  FUZZ_CHECK(wav.compare(wav.size() - 3, 3, "wav") == 0);
  if (name.size() > 3)
    FUZZ_CHECK(wav.substr(0, wav.size() - 3) + last3 ==
               folder + separator + name);

  const platform::CommandLine command =
      basFunctions::DecoderCommand(decoder, shortMp3, wav);
  FUZZ_CHECK(command.text ==
             decoder + " --decode " + " " + shortMp3 + " \"" + wav + "\"");
  FUZZ_CHECK(command.argv.size() == 4);
  FUZZ_CHECK(command.argv[0] == decoder);
  FUZZ_CHECK(command.argv[1] == "--decode");
  FUZZ_CHECK(command.argv[2] == shortMp3);
  FUZZ_CHECK(command.argv[3] == wav);
  return 0;
}
