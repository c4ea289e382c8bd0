// Replays a fuzz target's seed corpus without libFuzzer, so that every build (g++ included, and
// the sanitizer build) runs each target over its seeds as an ordinary test:
//
//   <target>_replay DIR   feeds every file of DIR to LLVMFuzzerTestOneInput, in name order
//
// A target reports a failed property by aborting, so any failure ends the run with a non-zero
// status naming the file.  An empty or missing corpus fails too: a replay of nothing checks
// nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " CORPUS_DIR\n";
    return 2;
  }
  std::vector<std::filesystem::path> seeds;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], error)) {
    if (entry.is_regular_file()) seeds.push_back(entry.path());
  }
  if (error || seeds.empty()) {
    std::cerr << argv[1] << ": no seeds to replay\n";
    return 1;
  }
  std::sort(seeds.begin(), seeds.end());
  for (const auto& seed : seeds) {
    std::ifstream in(seed, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      std::cerr << seed.string() << ": cannot be read\n";
      return 1;
    }
    std::cout << seed.filename().string() << std::endl;  // the last name shown is the culprit
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::cout << seeds.size() << " seeds replayed\n";
  return 0;
}
