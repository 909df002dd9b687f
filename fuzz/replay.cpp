// A fuzz target without libFuzzer, as ctest runs it: each file in the directories named is one
// input, and so is each input the target makes itself. A finding stops the run.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_check.h"

int main(int argc, char** argv) {
  int count = velk::fuzz::GeneratedInputs != nullptr ? velk::fuzz::GeneratedInputs() : 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& file : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream in(file.path(), std::ios::binary);
      velk::fuzz::Test(std::string(std::istreambuf_iterator<char>(in), {}));
      ++count;
    }
  }
  std::printf("%d inputs, no finding\n", count);
  return count > 0 ? 0 : 1;
}
