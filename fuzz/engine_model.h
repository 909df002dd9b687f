// The directive engine's rules, restated plainly and apart from the engine's
// own code, for the engine fuzzer to hold the engine to: std::string
// everywhere, no bounded strings, no shared helpers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velk::model {

struct Row {
  std::string Name;   // at most 40 bytes
  std::string Value;  // at most 70 bytes, earlier rows' values already folded in
};

struct Engine {
  std::vector<Row> Rows;  // at most 200, in order of definition
  bool Active = true;
  std::uint32_t Depth = 0;      // counts as the engine's does, wrapping around
  std::uint32_t SkipDepth = 0;  // the depth the false block began at
};

enum class Outcome : std::uint8_t { Dropped, Keep, TableFull };

// Appends a row (as a "-D" or "#define " does); false when 200 are there.
bool Define(Engine& engine, std::string_view name, std::string_view value);

// One line as read; `kept` gets the line to write when the outcome is Keep.
Outcome HandleLine(Engine& engine, std::string_view line, std::string& kept);

}  // namespace velk::model
