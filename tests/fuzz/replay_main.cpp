// Replays saved inputs through a fuzz target's entry point, as libFuzzer
// would run them, so the seed corpus and every crash a fuzzing run kept stay
// tested by the ordinary build. Usage: fuzz_replay_<target> FOLDER...
// (a missing folder has nothing to replay).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(argv[i], error))
      if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  LLVMFuzzerTestOneInput(nullptr, 0);
  for (const fs::path& input : inputs) {
    std::printf("%s\n", input.string().c_str());
    std::fflush(stdout);
    std::ifstream in(input, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in),
                            std::istreambuf_iterator<char>()};
    // A copy of its own, so a read past the end is a read past the block.
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
