// What the fuzz targets do when the program and its model part ways.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace velk::fuzz {

// Stops the run as a finding, saying what differed.
inline void Check(bool holds, std::string_view what) {
  if (!holds) {
    std::fprintf(stderr, "finding: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
  }
}

}  // namespace velk::fuzz
