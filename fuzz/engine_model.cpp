#include "engine_model.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace velk::model {

namespace {

constexpr std::size_t LineLimit = 255, NameLimit = 40, ValueLimit = 70, RowLimit = 200;
constexpr std::string_view WordBytes =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool IsWord(char c) { return WordBytes.find(c) != std::string_view::npos; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The name after the blanks and tabs from `from` on, up to the next blank or
// tab; with the position after it.
std::optional<std::pair<std::string, std::size_t>> NameFrom(const std::string& line,
                                                            std::size_t from) {
  std::size_t begin = from;
  while (begin < line.size() && IsBlank(line[begin])) {
    ++begin;
  }
  if (begin >= line.size()) {
    return std::nullopt;
  }
  std::size_t end = begin;
  while (end < line.size() && !IsBlank(line[end])) {
    ++end;
  }
  return std::pair{line.substr(begin, end - begin), end};
}

// The row's value in place of the first occurrence of its name, when that
// one stands alone; the result keeps `limit` bytes.
bool Replace(std::string& text, const Row& row, std::size_t limit) {
  if (row.Value.empty() || row.Name.empty()) {
    return false;
  }
  const std::size_t at = text.find(row.Name);
  if (at == std::string::npos) {
    return false;
  }
  const std::size_t after = at + row.Name.size();
  if ((at > 0 && IsWord(text[at - 1])) || (after < text.size() && IsWord(text[after]))) {
    return false;
  }
  text = (text.substr(0, at) + row.Value + text.substr(after)).substr(0, limit);
  return true;
}

Outcome DefineLine(Engine& engine, const std::string& line) {
  const auto name = NameFrom(line, 8);
  if (!name) {
    return Outcome::Dropped;
  }
  std::size_t value = name->second;
  while (value < line.size() && IsBlank(line[value])) {
    ++value;
  }
  return Define(engine, name->first, line.substr(std::min(value, line.size())))
             ? Outcome::Dropped
             : Outcome::TableFull;
}

Outcome IfLine(Engine& engine, const std::string& line, bool negated) {
  ++engine.Depth;
  if (!engine.Active) {
    return Outcome::Dropped;
  }
  const auto name = NameFrom(line, negated ? 8 : 7);
  if (!name) {
    return Outcome::Dropped;
  }
  const std::string cut = name->first.substr(0, NameLimit);
  const bool defined = std::any_of(engine.Rows.begin(), engine.Rows.end(),
                                   [&](const Row& row) { return row.Name == cut; });
  if (defined == negated) {
    engine.Active = false;
    engine.SkipDepth = engine.Depth;
  }
  return Outcome::Dropped;
}

}  // namespace

bool Define(Engine& engine, std::string_view name, std::string_view value) {
  if (engine.Rows.size() == RowLimit) {
    return false;
  }
  Row row{std::string(name.substr(0, NameLimit)), std::string(value.substr(0, ValueLimit))};
  for (const Row& earlier : engine.Rows) {
    Replace(row.Value, earlier, ValueLimit);
  }
  engine.Rows.push_back(row);
  return true;
}

Outcome HandleLine(Engine& engine, std::string_view read, std::string& kept) {
  const std::string line(read.substr(0, LineLimit));
  const auto starts = [&line](std::string_view keyword) { return line.rfind(keyword, 0) == 0; };
  if (starts("#define ")) {
    return DefineLine(engine, line);
  }
  if (starts("#ifdef ") || starts("#ifndef ")) {
    return IfLine(engine, line, starts("#ifndef "));
  }
  if (starts("#endif")) {
    if (engine.SkipDepth == engine.Depth) {
      engine.Active = true;
      engine.SkipDepth = 0;
    }
    --engine.Depth;
    return Outcome::Dropped;
  }
  if (!engine.Active) {
    return Outcome::Dropped;
  }
  kept = line;
  for (const Row& row : engine.Rows) {
    if (Replace(kept, row, LineLimit)) {
      break;
    }
  }
  return Outcome::Keep;
}

}  // namespace velk::model
