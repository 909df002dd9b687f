// Lines through the directive engine, held to the rules restated in
// engine_model.h. The first byte of an input is the number of "-D" symbols
// (S0, S1, ...) defined before the lines; the rest is lines separated by LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/directive_engine.h"
#include "engine_model.h"
#include "fuzz_check.h"

namespace {

using velk::fuzz::Check;

velk::EngineState state;  // large: one for the whole fuzzing run, reset for each input

// Defines the "-D" symbols; false when the table was full and the run ends.
bool DefineSymbols(int count, velk::model::Engine& model) {
  for (int i = 0; i < count; ++i) {
    const std::string name = "S" + std::to_string(i);
    const bool added = velk::AddDefine(state.Table, name, "") == velk::DefineOutcome::Added;
    Check(added == velk::model::Define(model, name, ""), "-D outcome");
    if (!added) {
      return false;
    }
  }
  return true;
}

velk::LineOutcome Expected(velk::model::Outcome outcome) {
  switch (outcome) {
    case velk::model::Outcome::Keep:
      return velk::LineOutcome::Keep;
    case velk::model::Outcome::TableFull:
      return velk::LineOutcome::TableFull;
    case velk::model::Outcome::Dropped:
      break;
  }
  return velk::LineOutcome::Dropped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  velk::ResetEngine(state);
  velk::model::Engine model;
  if (!DefineSymbols(data[0], model)) {
    return 0;
  }
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  for (std::size_t end = 0; end != std::string_view::npos; text.remove_prefix(end + 1)) {
    end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    std::string kept;
    const velk::LineOutcome outcome = velk::HandleLine(state, line);
    Check(outcome == Expected(velk::model::HandleLine(model, line, kept)), "outcome");
    Check(state.Table.DefineCount >= 0 && state.Table.DefineCount <= velk::MaxDefines, "rows");
    Check(static_cast<std::size_t>(state.Table.DefineCount) == model.Rows.size(), "row count");
    if (outcome == velk::LineOutcome::TableFull) {
      return 0;  // the run ends here
    }
    if (outcome == velk::LineOutcome::Keep) {
      Check(state.LineBuffer.size() <= 255, "kept line length");
      Check(state.LineBuffer.View() == kept, "kept line");
    }
  }
  return 0;
}
