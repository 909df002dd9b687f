// The symbol matcher: finds, in one scan of a line, the define row that the
// one replacement of a text line uses.
//
// The rule it computes: among the rows with a non-empty value, the earliest
// row (in order of definition) whose name's first occurrence in the line is a
// whole word, that is, touches no ASCII letter or digit on either side.
//
// Why one scan gives that answer: a row applies exactly when its name has a
// whole-word occurrence and no occurrence starts before the first of those.
// A whole-word occurrence of a name that begins with a letter or digit starts
// where a run of letters and digits starts, and that run is exactly the
// name's own leading run of letters and digits (the "key"); a name that
// begins with any other byte starts at that byte, after a byte that is not a
// letter or digit. So the scan looks up each run of the line by its key, and
// each other byte by itself, and checks the rest of the name only there. For
// each name, the first whole-word occurrence found is checked for an earlier
// occurrence of any kind; rows that share a name share that verdict, and the
// earliest of them with a value stands for them. The answer is the smallest
// such row, as in the walk over the rows one by one, which looks at each
// row's first occurrence and stops at the first whole word. Values are read
// from the rows when a line is matched, so a value changed after its row was
// indexed (a define line's value is expanded after it is stored) counts.
#pragma once

#include <cstdint>
#include <string_view>

namespace velk {

struct DefineEntry;  // directive_engine.h

inline constexpr std::int32_t MaxIndexedRows = 200;  // the define table's rows
inline constexpr std::size_t MaxNameLength = 40;     // a name's length at most
inline constexpr std::size_t KeySlotCount = 512;     // a power of two, over twice the names

// One slot of the key table: the key's fingerprint and where the names with
// that key stand in KeyMembers. A zero Tag is an empty slot.
struct KeySlot {
  std::uint32_t Tag = 0;
  std::uint8_t First = 0;
  std::uint8_t Count = 0;
};

// One distinct name and the rows that have it, in order of definition.
struct IndexedName {
  std::uint8_t Length = 0;
  std::uint16_t FirstRow = 0;
  std::uint16_t LastRow = 0;
  std::uint16_t NextOther = 0;  // another name that begins with the same byte, no letter or digit
  std::uint64_t HeadMask = 0;   // which of the first eight bytes belong to the name
  char Bytes[MaxNameLength] = {};  // the name, then zeros
};

// The names of rows 1..IndexedRows, grouped into distinct names. Rows and
// names are numbered from 1, 0 meaning none, so a zero-filled index is an
// empty one, and the index holds no pointers, so it may be copied. It holds
// no values: rows are read when a line is matched.
struct SymbolIndex {
  std::int32_t IndexedRows = 0;
  std::int32_t NameCount = 0;   // distinct non-empty names
  std::int32_t KeyedCount = 0;  // of them, those that begin with a letter or digit
  IndexedName Names[MaxIndexedRows] = {};
  std::uint16_t NextRowOfName[MaxIndexedRows] = {};  // the next row with the same name
  KeySlot KeySlots[KeySlotCount] = {};
  std::uint8_t KeyMembers[MaxIndexedRows] = {};  // the keyed names, those of each key together
  bool AnyOtherStart = false;                    // some name begins with no letter or digit
  std::uint16_t OtherStart[256] = {};  // a name that begins with this byte, no letter or digit
  bool NameStart[256] = {};            // some name begins with this byte
};
static_assert(MaxIndexedRows <= 255, "KeyMembers holds names and places in single bytes");

// Where the replacement goes: the row, and the 1-based position and length of
// its name in the line. Row 0: no replacement.
struct SymbolMatch {
  std::int32_t Row = 0;
  std::int32_t Position = 0;
  std::int32_t Length = 0;
};

// Empties the index.
void ResetSymbolIndex(SymbolIndex& index);

// Adds row IndexedRows + 1, which has this name, to the index.
void IndexNextRow(SymbolIndex& index, std::string_view name);

// The replacement for line under the rule above, over rows 1..IndexedRows.
SymbolMatch FindSymbol(const SymbolIndex& index, const DefineEntry* rows, std::string_view line);

// The distinct name equal to name, or 0 when no indexed row has it.
std::int32_t FindName(const SymbolIndex& index, std::string_view name);

}  // namespace velk
