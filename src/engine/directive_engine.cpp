#include "engine/directive_engine.h"

#include <algorithm>
#include <limits>

namespace velk {

namespace {

enum class LineKind : std::uint8_t { Define, Ifdef, Ifndef, Endif, Text };

constexpr std::string_view DefineKeyword = "#define ";  // the blank belongs to the keyword
constexpr std::string_view IfdefKeyword = "#ifdef ";
constexpr std::string_view IfndefKeyword = "#ifndef ";
constexpr std::string_view EndifKeyword = "#endif";  // anything may follow it

constexpr std::int32_t DefineNameStart = 9;
constexpr std::int32_t IfdefNameStart = 8;
constexpr std::int32_t IfndefNameStart = 9;

bool IsSeparator(unsigned char c) { return c == ' ' || c == '\t'; }

std::int32_t LengthOf(std::string_view text) {
  const std::size_t limit = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::min(text.size(), limit));
}

// The byte at 1-based position `position` of text.
unsigned char CharAt(std::string_view text, std::int32_t position) {
  return static_cast<unsigned char>(text[static_cast<std::size_t>(position - 1)]);
}

// Rows 1..RowsInUse are the ones any lookup may read, whatever DefineCount holds.
std::int32_t RowsInUse(const DefineTable& table) {
  return std::clamp(table.DefineCount, std::int32_t{0}, MaxDefines);
}

// Depth changes go through unsigned arithmetic: an absurd number of unbalanced
// directives wraps around instead of overflowing.
std::int32_t StepDepth(std::int32_t depth, std::uint32_t step) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(depth) + step);
}

LineKind KindOfLine(std::string_view line) {
  // Most lines are text: every directive begins with its number sign.
  if (line.empty() || line[0] != '#') {
    return LineKind::Text;
  }
  if (line.starts_with(DefineKeyword)) {
    return LineKind::Define;
  }
  if (line.starts_with(IfdefKeyword)) {
    return LineKind::Ifdef;
  }
  if (line.starts_with(IfndefKeyword)) {
    return LineKind::Ifndef;
  }
  if (line.starts_with(EndifKeyword)) {
    return LineKind::Endif;
  }
  return LineKind::Text;
}

// The name at 1-based p with length n stands alone: no word character
// touches it on either side.
bool IsWholeWord(std::string_view text, std::int32_t p, std::int32_t n) {
  const std::int32_t length = LengthOf(text);
  const bool free_before = p == 1 || !IsWordChar(CharAt(text, p - 1));
  const bool free_after = p + n > length || !IsWordChar(CharAt(text, p + n));
  return free_before && free_after;
}

// Puts row's value in place of the first occurrence of row's name in text,
// if that occurrence is a whole word. Only the first occurrence is looked at.
bool ReplaceFirstWord(std::string_view text, const DefineEntry& row, Line& result) {
  if (row.Value.empty()) {
    return false;
  }
  const std::int32_t p = BoundedFind(row.Name, text);
  const std::int32_t n = LengthOf(row.Name);
  if (p == 0 || !IsWholeWord(text, p, n)) {
    return false;
  }
  const Line head = BoundedJoin(BoundedSubstring(text, 1, p - 1), row.Value);
  result = BoundedJoin(head, BoundedSubstring(text, p + n, LengthOf(text)));
  return true;
}

// What follows the name on a define line, from its first character that is
// not a blank or tab to the end of the line; empty when there is none.
std::string_view ValueAfter(std::string_view line, std::int32_t next) {
  const std::int32_t length = LengthOf(line);
  std::int32_t i = next;
  while (i <= length && IsSeparator(CharAt(line, i))) {
    ++i;
  }
  // An empty value still points into the line, never at no storage at all.
  return Slice(line, static_cast<std::size_t>(std::min(i, length + 1) - 1));
}

void SkipFrom(ConditionalState& conditions) {
  conditions.OutputActive = false;
  conditions.SkipDepth = conditions.NestingDepth;
}

LineOutcome HandleDefineLine(EngineState& state, std::string_view line) {
  const ScannedName name = ScanName(line, DefineNameStart);
  if (!name.Found) {
    return LineOutcome::Dropped;
  }
  const std::string_view value = ValueAfter(line, name.Next);
  if (AddDefine(state.Table, name.Text, value) == DefineOutcome::TableFull) {
    return LineOutcome::TableFull;
  }
  if (!value.empty()) {
    ExpandValue(state.Table, state.Table.DefineCount);
  }
  return LineOutcome::Dropped;
}

// "#ifdef " (skip_when_defined false) and "#ifndef " (true). Inside a false
// block the block is only counted, so that its "#endif" pairs up.
LineOutcome HandleIfLine(EngineState& state, std::string_view line, std::int32_t name_start,
                         bool skip_when_defined) {
  ConditionalState& conditions = state.Conditions;
  conditions.NestingDepth = StepDepth(conditions.NestingDepth, 1u);
  if (!conditions.OutputActive) {
    return LineOutcome::Dropped;
  }
  const ScannedName name = ScanName(line, name_start);
  if (!name.Found) {
    return LineOutcome::Dropped;
  }
  const SymbolName cut_name(name.Text);
  if (IsDefined(state.Table, cut_name) == skip_when_defined) {
    SkipFrom(conditions);
  }
  return LineOutcome::Dropped;
}

LineOutcome HandleEndifLine(ConditionalState& conditions) {
  if (conditions.SkipDepth == conditions.NestingDepth) {
    conditions.OutputActive = true;
    conditions.SkipDepth = 0;
  }
  conditions.NestingDepth = StepDepth(conditions.NestingDepth, ~0u);  // minus one
  return LineOutcome::Dropped;
}

LineVerdict HandleTextLine(const EngineState& state, std::string_view line,
                           const LineClasses& classes) {
  if (!state.Conditions.OutputActive) {
    return LineVerdict{};
  }
  return SubstituteLine(state.Table, line, classes);
}

}  // namespace

void ResetEngine(EngineState& state) {
  state.Table.DefineCount = 0;
  ResetSymbolIndex(state.Table.Index);
  state.Conditions = ConditionalState{};
}

LineVerdict HandleLine(EngineState& state, std::string_view line, const LineClasses& classes) {
  switch (KindOfLine(line)) {
    case LineKind::Define:
      return LineVerdict{.Outcome = HandleDefineLine(state, line)};
    case LineKind::Ifdef:
      return LineVerdict{.Outcome = HandleIfLine(state, line, IfdefNameStart, false)};
    case LineKind::Ifndef:
      return LineVerdict{.Outcome = HandleIfLine(state, line, IfndefNameStart, true)};
    case LineKind::Endif:
      return LineVerdict{.Outcome = HandleEndifLine(state.Conditions)};
    case LineKind::Text:
      break;
  }
  return HandleTextLine(state, line, classes);
}

const ByteRanges& LineRanges(const EngineState& state) { return state.Table.Index.StartRanges; }

DefineOutcome AddDefine(DefineTable& table, std::string_view name, std::string_view value) {
  const std::int32_t used = RowsInUse(table);
  if (used >= MaxDefines) {
    // The count stays at the limit, so no later lookup reads past the rows.
    return DefineOutcome::TableFull;
  }
  DefineEntry& row = table.Rows[used];
  BoundedStore(row.Name, name);
  BoundedStore(row.Value, value);
  table.DefineCount = used + 1;
  IndexNextRow(table.Index, row.Name, !row.Value.empty());
  return DefineOutcome::Added;
}

bool IsDefined(const DefineTable& table, std::string_view name) {
  const std::int32_t used = RowsInUse(table);
  // The comparison of views (lengths first, then bytes) is BoundedEquals,
  // written where the compiler can see it: an "#ifdef " line walks every row.
  for (std::int32_t k = 0; k < used; ++k) {
    if (table.Rows[k].Name.View() == name) {
      return true;
    }
  }
  return false;
}

bool IsWordChar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

ScannedName ScanName(std::string_view line, std::int32_t start) {
  const std::int32_t length = LengthOf(line);
  std::int32_t i = std::max(start, std::int32_t{1});
  while (i <= length && IsSeparator(CharAt(line, i))) {
    ++i;
  }
  if (i > length) {
    return ScannedName{};
  }
  std::int32_t j = i + 1;
  while (j <= length && !IsSeparator(CharAt(line, j))) {
    ++j;
  }
  const std::string_view text =
      Slice(line, static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j - i));
  return ScannedName{.Found = true, .Start = i, .Next = j, .Text = text};
}

void ExpandValue(DefineTable& table, std::int32_t row) {
  if (row < 1 || row > RowsInUse(table)) {
    return;
  }
  SymbolValue& value = table.Rows[row - 1].Value;
  Line replaced;
  for (std::int32_t k = 0; k < row - 1; ++k) {
    if (ReplaceFirstWord(value, table.Rows[k], replaced)) {
      BoundedStore(value, replaced);
    }
  }
}

LineVerdict SubstituteLine(const DefineTable& table, std::string_view line,
                           const LineClasses& classes) {
  const SymbolMatch match =
      table.Index.NameCount != 0 ? FindSymbol(table.Index, line, classes) : SymbolMatch{};
  if (match.Row == 0) {
    return LineVerdict{.Outcome = LineOutcome::Keep, .Head = line};
  }
  // Bytes before the name, the value, the bytes after the name: cut to the
  // capacity of a line in that order.
  const auto head = static_cast<std::size_t>(match.Position - 1);
  const std::size_t room = Line::capacity() - head;
  const std::string_view value = Slice(table.Rows[match.Row - 1].Value, 0, room);
  return LineVerdict{
      .Outcome = LineOutcome::Replace,
      .Head = Slice(line, 0, head),
      .Value = value,
      .Tail = Slice(line, head + static_cast<std::size_t>(match.Length), room - value.size())};
}

}  // namespace velk
