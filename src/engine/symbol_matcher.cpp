#include "engine/symbol_matcher.h"

#include <array>
#include <cstring>

#include "engine/directive_engine.h"
#include "runtime/bounded_string.h"

namespace velk {

namespace {

constexpr std::uint16_t None = 0;

constexpr std::array<bool, 256> WordChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<std::size_t>(c)] =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  }
  return table;
}();

bool IsWord(unsigned char c) { return WordChars[c]; }

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

std::string_view TextOf(const IndexedName& name) {
  return std::string_view(name.Bytes, name.Length);
}

// The length of the run of letters and digits that text starts with.
std::size_t LeadingRun(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && IsWord(static_cast<unsigned char>(text[n]))) {
    ++n;
  }
  return n;
}

// Byte by byte: the names are short, and most comparisons end at once.
bool SameBytes(const unsigned char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] != static_cast<unsigned char>(b[i])) {
      return false;
    }
  }
  return true;
}

// A fingerprint of a key: never zero, since a key has a length.
std::uint32_t KeyTag(const unsigned char* key, std::size_t length) {
  return static_cast<std::uint32_t>(length) | std::uint32_t{key[0]} << 8 |
         std::uint32_t{key[length - 1]} << 16 | std::uint32_t{key[length / 2]} << 24;
}

std::size_t SlotOf(std::uint32_t tag) {
  static_assert(KeySlotCount == 512);
  return (tag * 0x9E3779B1u) >> 23;  // the top 9 bits
}

// The slot that holds this key, or the empty slot where it would go. The
// table is never full: it has more slots than there are names.
std::size_t FindKeySlot(const SymbolIndex& index, const unsigned char* key, std::size_t length) {
  const std::uint32_t tag = KeyTag(key, length);
  std::size_t slot = SlotOf(tag);
  for (;; slot = (slot + 1) % KeySlotCount) {
    const KeySlot& entry = index.KeySlots[slot];
    if (entry.Tag == 0 ||
        (entry.Tag == tag && SameBytes(key, index.Names[entry.Name - 1].Bytes, length))) {
      return slot;
    }
  }
}

// The first of the names that share name's key, or its first byte when it
// has no key.
std::uint16_t FirstOfKind(const SymbolIndex& index, std::string_view name) {
  const std::size_t key_length = LeadingRun(name);
  if (key_length == 0) {
    return index.OtherStart[Bytes(name)[0]];
  }
  return index.KeySlots[FindKeySlot(index, Bytes(name), key_length)].Name;
}

void AddName(SymbolIndex& index, std::uint16_t number, std::string_view text) {
  IndexedName& name = index.Names[number - 1];
  const unsigned char first = Bytes(text)[0];
  const std::size_t key_length = LeadingRun(text);
  name.KeyLength = static_cast<std::uint8_t>(key_length);
  index.NameStart[first] = true;
  if (key_length == 0) {
    name.NextOfKey = index.OtherStart[first];
    index.OtherStart[first] = number;
    return;
  }
  KeySlot& slot = index.KeySlots[FindKeySlot(index, Bytes(text), key_length)];
  slot.Tag = KeyTag(Bytes(text), key_length);
  name.NextOfKey = slot.Name;
  slot.Name = number;
}

// What one scan of a line has found so far.
struct Scan {
  const SymbolIndex& index;
  const DefineEntry* rows;
  std::string_view line;
  std::uint64_t judged[(MaxIndexedRows + 63) / 64] = {};  // names already judged
  SymbolMatch best{.Row = MaxIndexedRows + 1};
};

// The name has a whole-word occurrence at 0-based `at`, the first of that
// kind; it applies if no occurrence at all starts before `at`. Of its rows,
// the first with a value stands for it.
void Judge(Scan& scan, std::uint16_t number, std::size_t at) {
  const std::size_t bit = number - 1u;
  if ((scan.judged[bit / 64] >> (bit % 64) & 1u) != 0) {
    return;
  }
  scan.judged[bit / 64] |= std::uint64_t{1} << (bit % 64);
  const IndexedName& name = scan.index.Names[number - 1];
  std::int32_t row = name.FirstRow;
  while (row != None && scan.rows[row - 1].Value.empty()) {
    row = scan.index.NextRowOfName[row - 1];
  }
  if (row == None || row >= scan.best.Row) {
    return;
  }
  const std::string_view text = TextOf(name);
  if (at != 0 && scan.line.substr(0, at + text.size() - 1).find(text) != std::string_view::npos) {
    return;
  }
  scan.best = SymbolMatch{.Row = row,
                          .Position = static_cast<std::int32_t>(at + 1),
                          .Length = static_cast<std::int32_t>(text.size())};
}

// Tries the names of one chain at 0-based `at`; the first `known` bytes of
// each are known to be there. The end is checked first: it must be the end
// of the line or no letter or digit, and the name's last byte.
void TryNames(Scan& scan, std::uint16_t number, std::size_t at, std::size_t known) {
  const unsigned char* line = Bytes(scan.line) + at;
  const std::size_t room = scan.line.size() - at;
  for (; number != None; number = scan.index.Names[number - 1].NextOfKey) {
    const IndexedName& name = scan.index.Names[number - 1];
    const std::size_t n = name.Length;
    if (n <= room && (n == room || !IsWord(line[n])) &&
        line[n - 1] == static_cast<unsigned char>(name.Bytes[n - 1]) &&
        SameBytes(line + known, name.Bytes + known, n - known)) {
      Judge(scan, number, at);
    }
  }
}

// A run of letters and digits at [start, end) that begins after no letter or digit.
void TryRun(Scan& scan, std::size_t start, std::size_t end) {
  const std::size_t length = end - start;
  if (length > MaxNameLength) {
    return;
  }
  const KeySlot& slot =
      scan.index.KeySlots[FindKeySlot(scan.index, Bytes(scan.line) + start, length)];
  TryNames(scan, slot.Name, start, length);
}

}  // namespace

void ResetSymbolIndex(SymbolIndex& index) { index = SymbolIndex{}; }

void IndexNextRow(SymbolIndex& index, std::string_view text) {
  if (index.IndexedRows >= MaxIndexedRows) {
    return;
  }
  const auto row = static_cast<std::uint16_t>(++index.IndexedRows);
  if (text.empty() || text.size() > MaxNameLength) {
    return;  // an empty name is never found; a longer one is never stored
  }
  const auto known = static_cast<std::uint16_t>(FindName(index, text));
  if (known != None) {
    IndexedName& name = index.Names[known - 1];
    index.NextRowOfName[name.LastRow - 1] = row;
    name.LastRow = row;
    return;
  }
  const auto number = static_cast<std::uint16_t>(++index.NameCount);
  IndexedName& name = index.Names[number - 1];
  name.Length = static_cast<std::uint8_t>(text.size());
  name.FirstRow = row;
  name.LastRow = row;
  std::memcpy(name.Bytes, text.data(), text.size());
  AddName(index, number, text);
}

std::int32_t FindName(const SymbolIndex& index, std::string_view text) {
  if (text.empty() || text.size() > MaxNameLength) {
    return None;
  }
  for (std::uint16_t k = FirstOfKind(index, text); k != None; k = index.Names[k - 1].NextOfKey) {
    if (TextOf(index.Names[k - 1]) == text) {
      return k;
    }
  }
  return None;
}

SymbolMatch FindSymbol(const SymbolIndex& index, const DefineEntry* rows, std::string_view line) {
  if (index.NameCount == 0) {
    return SymbolMatch{};
  }
  // First the places where a whole-word occurrence could begin: a byte that
  // begins some name, after no letter or digit. The loop has no branch that
  // depends on the text, as a line holds a mix of words and other bytes.
  const unsigned char* bytes = Bytes(line);
  const std::size_t length = std::min(line.size(), MaxBoundedCapacity);
  std::uint8_t starts[MaxBoundedCapacity];
  std::size_t count = 0;
  bool after_word = false;
  for (std::size_t at = 0; at < length; ++at) {
    const unsigned char c = bytes[at];
    starts[count] = static_cast<std::uint8_t>(at);
    count += static_cast<std::size_t>(index.NameStart[c] & !after_word);
    after_word = IsWord(c);
  }
  Scan scan{.index = index, .rows = rows, .line = line.substr(0, length)};
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = starts[k];
    if (IsWord(bytes[at])) {
      std::size_t end = at + 1;
      while (end < length && IsWord(bytes[end])) {
        ++end;
      }
      TryRun(scan, at, end);
    } else {
      TryNames(scan, index.OtherStart[bytes[at]], at, 1);
    }
  }
  return scan.best.Row <= MaxIndexedRows ? scan.best : SymbolMatch{};
}

}  // namespace velk
