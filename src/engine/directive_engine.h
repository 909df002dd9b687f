// The directive engine: decides for each line of input whether it is written
// and in what form. It acts on "#define ", "#ifdef ", "#ifndef " and "#endif"
// in column 1, keeps the table of defined symbols, drops the lines of false
// blocks and replaces at most one whole-word symbol per kept line. It does no
// input or output of its own: it is given a line, with the classes of its
// bytes, and says whether the line is dropped, kept or kept with a
// replacement.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/symbol_matcher.h"
#include "runtime/bounded_string.h"
#include "runtime/byte_classes.h"

namespace velk {

inline constexpr std::int32_t MaxDefines = 200;   // rows in the define table
inline constexpr std::size_t NameCapacity = 40;   // a symbol name keeps this many bytes
inline constexpr std::size_t ValueCapacity = 70;  // a symbol value keeps this many bytes

static_assert(MaxDefines <= MaxIndexedRows && NameCapacity <= MaxNameLength);

using SymbolName = BoundedString<NameCapacity>;
using SymbolValue = BoundedString<ValueCapacity>;

// One defined symbol. The value is empty for "-D" symbols and for a
// "#define" with nothing after the name.
struct DefineEntry {
  SymbolName Name;
  SymbolValue Value;
};

// Symbols in order of definition; rows are only ever appended, and a name may
// stand in several rows. Rows 1..DefineCount are in use (Rows[0] is row 1).
// Index holds the names of the rows that have a value, for SubstituteLine;
// AddDefine keeps it up, so rows are added through AddDefine only. After a
// row is stored its name stays, and its value may change but not become
// empty or non-empty.
struct DefineTable {
  std::int32_t DefineCount = 0;
  DefineEntry Rows[MaxDefines];
  SymbolIndex Index;
};

// Whether text lines are let through, and the nesting of open blocks.
struct ConditionalState {
  bool OutputActive = true;       // text lines are kept
  std::int32_t NestingDepth = 0;  // blocks opened minus "#endif" lines; may go below 0
  std::int32_t SkipDepth = 0;     // depth at which the false block being skipped began
};

// Everything the engine keeps for a run; shared by all files of the run.
struct EngineState {
  DefineTable Table;
  ConditionalState Conditions;
};

enum class LineOutcome : std::uint8_t {
  Dropped,    // a directive, or a text line inside a false block
  Keep,       // the line is written as it is
  Replace,    // the line is written with one symbol replaced by its value
  TableFull,  // a "#define" line would have made the 201st define
};

// What becomes of a line. When it is written (Keep, Replace), it is Head,
// Value and Tail, one after the other: at most 255 bytes in all, pieces of
// the line and of a row's value.
struct LineVerdict {
  LineOutcome Outcome = LineOutcome::Dropped;
  std::string_view Head = {}, Value = {}, Tail = {};
};

enum class DefineOutcome : std::uint8_t { Added, TableFull };

// A name found by ScanName: its 1-based start and the position after it
// (the blank or tab that ends it, or the line's length + 1).
struct ScannedName {
  bool Found = false;
  std::int32_t Start = 0;
  std::int32_t Next = 0;
  std::string_view Text;  // points into the scanned line
};

// Sets the state a run starts with: an empty table, output active, depth 0.
void ResetEngine(EngineState& state);

// Acts on one line of at most 255 bytes (without its line end), whose bytes
// `classes` classifies with the ranges LineRanges gives. The verdict's
// pieces point into the line and the table: they are good until the line
// goes and the next line is handled.
LineVerdict HandleLine(EngineState& state, std::string_view line, const LineClasses& classes);

// The byte ranges a line's classes must give for HandleLine: the bytes that
// begin a name.
const ByteRanges& LineRanges(const EngineState& state);

// Appends a row with the name cut to 40 bytes and the value cut to 70, and
// adds it to the table's index. The 201st define is refused with TableFull,
// and no row is stored for it.
DefineOutcome AddDefine(DefineTable& table, std::string_view name, std::string_view value);

// True when some row has exactly this name (same length, same bytes).
bool IsDefined(const DefineTable& table, std::string_view name);

// ASCII letters and digits only: the underscore and bytes 128..255 are not.
bool IsWordChar(unsigned char c);

// The name that starts after the blanks and tabs at 1-based `start` in line
// and runs to the next blank or tab or the end of the line.
ScannedName ScanName(std::string_view line, std::int32_t start);

// Folds the values of rows defined before row `row` (1-based) into its value.
void ExpandValue(DefineTable& table, std::int32_t row);

// The first whole-word occurrence of the earliest applicable symbol in the
// line replaced by its value, the result cut to 255 bytes: the verdict for a
// kept text line. At most one replacement is made.
LineVerdict SubstituteLine(const DefineTable& table, std::string_view line,
                           const LineClasses& classes);

}  // namespace velk
