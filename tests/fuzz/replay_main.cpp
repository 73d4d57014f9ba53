// Replays the seed corpus and every input a fuzzing run kept, as libFuzzer
// would, so the ordinary build keeps them tested. Usage: replay FOLDER...
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code missing;
    for (const auto& entry :
         std::filesystem::directory_iterator(argv[i], missing)) {
      std::ifstream in(entry.path(), std::ios::binary);
      // A block of its own, so a read past the end is a read past the block.
      const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++replayed;
    }
  }
  return replayed == 0;
}
