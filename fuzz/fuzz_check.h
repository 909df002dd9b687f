// What the fuzz targets share: a finding, and the replay of a target without libFuzzer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace velk::fuzz {

// Stops the run as a finding, saying what differed.
inline void Check(bool holds, std::string_view what) {
  if (!holds) {
    std::fprintf(stderr, "finding: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
  }
}

inline void Test(const std::string& input) {  // one input, as libFuzzer gives it
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

// The inputs a target makes for the replay (it may have none), each passed to Test; their count.
[[gnu::weak]] int GeneratedInputs();

}  // namespace velk::fuzz
