// A fuzz target without libFuzzer, as ctest runs it: every file named, or in
// a directory named, is one input, then come the inputs the target makes
// itself. A finding stops the run as it stops the fuzzer.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_check.h"

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files = {argv[i]};
    if (std::filesystem::is_directory(argv[i])) {
      files.assign(std::filesystem::directory_iterator(argv[i]), {});
    }
    for (const std::filesystem::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      velk::fuzz::Test(std::string(std::istreambuf_iterator<char>(in), {}));
      ++count;
    }
  }
  count += velk::fuzz::GeneratedInputs != nullptr ? velk::fuzz::GeneratedInputs() : 0;
  std::printf("%d inputs, no finding\n", count);
  return count > 0 ? 0 : 1;
}
