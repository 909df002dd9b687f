// The symbol matcher: finds, in one scan of a line, the define row that the
// one replacement of a text line uses.
//
// The rule it computes: among the rows with a non-empty value, the earliest
// row (in order of definition) whose name's first occurrence in the line is a
// whole word, that is, touches no ASCII letter or digit on either side.
//
// Why one scan gives that answer: rows with the same name share the first
// occurrence, so only the earliest of them with a value can be the answer;
// the index holds each name once, with that row. A row applies exactly when
// its name has a whole-word occurrence and no occurrence at all starts before
// the first of those. A whole-word occurrence of a name that begins with a
// letter or digit starts where a run of letters and digits starts, and that
// run is exactly the name's own leading run of letters and digits (its
// "key"); a name that begins with any other byte starts at that byte, after a
// byte that is no letter or digit, and the first run of letters and digits
// after that byte ends where the name's own first run ends (its key is the
// name up to there). So the scan looks up each such run, and each such other
// byte with the first run after it, by its key (names without a letter or
// digit: by the byte alone), and compares the whole name only there. For each
// name, the first whole-word occurrence found is checked for an earlier
// occurrence of any kind. The answer is the smallest row that passes, which is
// where the walk over the rows one by one stops: it looks at each row's first
// occurrence and ends at the first whole word.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/byte_classes.h"

namespace velk {

inline constexpr std::int32_t MaxIndexedRows = 200;  // the define table's rows
inline constexpr std::size_t MaxNameLength = 40;     // a name's length at most
// Slots of the key table: a power of two, ten times the keys at most, so that
// nearly every run of letters and digits that is no key finds its slot empty.
inline constexpr std::size_t KeySlotCount = 2048;

// One distinct name and the first row that has it with a value. Names are
// numbered from 1 in the order they were added, which is the order of their
// rows; 0 means none.
struct IndexedName {
  std::uint64_t FirstBytes = 0;   // the first byte of the name in each of eight bytes
  std::uint64_t SecondBytes = 0;  // the second (0 for a name of one byte) likewise
  std::uint8_t Length = 0;
  std::uint8_t KeyLength = 0;    // 0: the name is looked up by its first byte (see KeyHeads)
  std::uint8_t NextSameKey = 0;  // the next name with the same key
  std::uint8_t NextOther = 0;    // the next name of the same first byte with no letter or digit
  std::uint16_t Row = 0;
  char Bytes[MaxNameLength + 8] = {};  // the name, then zeros: readable eight past its end
};

// One key: its length and the first of its names (the others follow through
// NextSameKey), with that name's row, the smallest of them. Its first eight
// bytes stand in KeyHeads at the same place.
struct KeySlot {
  std::uint8_t Length = 0;
  std::uint8_t FirstName = 0;
  std::uint8_t FirstRow = 0;
};

// The names of the rows 1..IndexedRows that have a value, each name once. A
// zero-filled index is an empty one, and the index holds no pointers, so it
// may be copied. It holds no values: the replacement is read from the row.
struct SymbolIndex {
  std::int32_t IndexedRows = 0;
  std::int32_t NameCount = 0;  // distinct names
  IndexedName Names[MaxIndexedRows] = {};
  // Open addressing by a key's first eight bytes (the first byte lowest,
  // those past the key zero), which are never all zero: a key ends with a
  // letter or digit, and a name whose key would begin with eight zero bytes
  // is kept as one with no letter or digit. 0: an empty slot. Keys that share
  // their first eight bytes have slots of their own, one after the other.
  std::uint64_t KeyHeads[KeySlotCount] = {};
  KeySlot KeySlots[KeySlotCount] = {};
  std::uint64_t KeyLengths[256] = {};  // bit n: some key of n bytes begins with this byte
  std::uint8_t OtherStart[256] = {};   // the first name of this first byte with no letter or digit
  bool OtherFirst[256] = {};  // some name begins with this byte, which is no letter or digit
  // A few ranges of bytes that hold every byte other than a letter or digit
  // that begins a name (and perhaps a few more).
  ByteRanges StartRanges;
};
static_assert(MaxIndexedRows <= 255, "names are numbered in single bytes");

// Where the replacement goes: the row, and the 1-based position and length of
// its name in the line. Row 0: no replacement.
struct SymbolMatch {
  std::int32_t Row = 0;
  std::int32_t Position = 0;
  std::int32_t Length = 0;
};

// Empties the index.
void ResetSymbolIndex(SymbolIndex& index);

// Adds row IndexedRows + 1, which has this name and a value or none. A row
// without a value, or whose name an earlier row with a value has, changes
// nothing but the count of rows.
void IndexNextRow(SymbolIndex& index, std::string_view name, bool has_value);

// The replacement for a line of at most 255 bytes under the rule above, over
// rows 1..IndexedRows. `classes` holds the classes of the line's bytes with
// StartRanges as the ranges (the class words may be read one past the
// line's last); the line's bytes must be readable up to 64 past its end.
SymbolMatch FindSymbol(const SymbolIndex& index, std::string_view line, const LineClasses& classes);

}  // namespace velk
