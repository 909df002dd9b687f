// How one scan goes: the line is copied into a zero-padded buffer and
// classified 64 bytes at a time into two bit masks, letters and digits, and
// bytes in the ranges that names begin with. Their combination gives the
// places where a whole-word occurrence may begin, usually one or two a line.
// A place is looked up by the length and three bytes of its key: the run of
// letters and digits it starts or, on any other byte, the place up to the end
// of the first such run after it; each name found there is compared whole,
// eight bytes at a time, and only then looked for earlier in the line. Nothing is allocated
// and no work is done per row of the table.
#include "engine/symbol_matcher.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "runtime/bounded_string.h"

namespace velk {

namespace {

constexpr std::uint16_t None = 0;
constexpr std::uint64_t LowBits = 0x0101010101010101u;   // 1 in every byte
constexpr std::uint64_t HighBits = 0x8080808080808080u;  // 128 in every byte

// A line is copied into a buffer with 64 zero bytes after it (a zero byte is
// no letter or digit), so that whole blocks of 64 bytes can be looked at.
constexpr std::size_t BlockSize = ClassBlockSize;
constexpr std::size_t PaddedSize = MaxBoundedCapacity + BlockSize;
constexpr std::size_t BlockCount = PaddedSize / BlockSize;

constexpr std::array<bool, 256> WordChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<std::size_t>(c)] =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  }
  return table;
}();

bool IsWord(unsigned char c) { return WordChars[c]; }

const unsigned char* Bytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}

// Eight bytes as one number, the first byte lowest on any machine.
std::uint64_t Load8(const unsigned char* bytes) {
  std::uint64_t v = 0;
  std::memcpy(&v, bytes, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t swapped = 0;
    for (int k = 0; k < 8; ++k) {
      swapped = swapped << 8 | (v >> (8 * k) & 0xFFu);
    }
    v = swapped;
  }
  return v;
}

// The byte index of the lowest byte with its high bit set in mask.
std::size_t FirstByte(std::uint64_t mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
}

std::size_t LowestBit(std::uint64_t bits) {
  return static_cast<std::size_t>(std::countr_zero(bits));
}

// Sets the ranges from NameStart: its runs of bytes, the closest runs joined
// until there are few enough; unused ranges repeat the last one.
void SetStartRanges(SymbolIndex& index) {
  std::array<std::size_t, 256> low{}, high{};
  std::size_t runs = 0;
  for (std::size_t c = 0; c < 256; ++c) {
    if (index.NameStart[c] && (c == 0 || !index.NameStart[c - 1])) {
      low[runs++] = c;
    }
    if (index.NameStart[c]) {
      high[runs - 1] = c;
    }
  }
  while (runs > ByteRangeCount) {
    std::size_t closest = 0;
    for (std::size_t k = 1; k + 1 < runs; ++k) {
      if (low[k + 1] - high[k] < low[closest + 1] - high[closest]) {
        closest = k;
      }
    }
    high[closest] = high[closest + 1];
    for (std::size_t k = closest + 1; k + 1 < runs; ++k) {
      low[k] = low[k + 1];
      high[k] = high[k + 1];
    }
    --runs;
  }
  for (std::size_t k = 0; k < ByteRangeCount; ++k) {
    const std::size_t from = std::min(k, runs - 1);
    index.StartRanges.Low[k] = static_cast<std::uint8_t>(low[from]);
    index.StartRanges.Span[k] = static_cast<std::uint8_t>(high[from] - low[from]);
  }
}

// Copies n bytes in a few moves of 16, 8 or 4 bytes, the last of which may
// overlap the one before; no byte outside the n is read. (A copy of a length
// known to be short is otherwise compiled into a string instruction that
// takes long to start.)
void CopyShort(unsigned char* to, const unsigned char* from, std::size_t n) {
  if (n >= 16) {
    for (std::size_t k = 0; k + 16 < n; k += 16) {
      std::memcpy(to + k, from + k, 16);
    }
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else {
    for (std::size_t k = 0; k < n; ++k) {
      to[k] = from[k];
    }
  }
}

// Compares n (at least 1) bytes, eight at a time; both sides may be read up
// to the next multiple of eight past n.
bool Equal(const unsigned char* a, const unsigned char* b, std::size_t n) {
  for (std::size_t k = 0; k < n; k += 8) {
    const std::size_t count = std::min<std::size_t>(n - k, 8);
    const std::uint64_t mask = ~std::uint64_t{0} >> (64 - 8 * count);
    if (((Load8(a + k) ^ Load8(b + k)) & mask) != 0) {
      return false;
    }
  }
  return true;
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

// The length of a name's key: the name up to the end of its first run of
// letters and digits (for a name that begins with one, that run), or 0 when
// the name holds no letter or digit.
std::size_t KeyLength(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !IsWord(static_cast<unsigned char>(text[n]))) {
    ++n;
  }
  return n == text.size() ? 0 : n + LeadingRun(std::string_view(text.data() + n, text.size() - n));
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

// The slot for keys with this key's fingerprint, or the empty slot where it
// would go. Keys that share a fingerprint share a slot: a name is compared
// whole wherever it is tried, so its slot only needs to hold it. The table
// is never full: it has more slots than there are names.
std::size_t FindKeySlot(const SymbolIndex& index, const unsigned char* key, std::size_t length) {
  const std::uint32_t tag = KeyTag(key, length);
  std::size_t slot = SlotOf(tag);
  while (index.KeySlots[slot].Tag != 0 && index.KeySlots[slot].Tag != tag) {
    slot = (slot + 1) % KeySlotCount;
  }
  return slot;
}

// Puts a name into the group of its key, behind the names already there;
// the groups after it move up by one.
void AddToKey(SymbolIndex& index, KeySlot& slot, std::uint8_t number) {
  const auto keyed = static_cast<std::size_t>(index.KeyedCount);
  if (slot.Count == 0) {
    slot.First = static_cast<std::uint8_t>(keyed);
  }
  const std::size_t at = std::size_t{slot.First} + slot.Count;
  if (at < keyed) {
    std::memmove(index.KeyMembers + at + 1, index.KeyMembers + at, keyed - at);
    for (KeySlot& other : index.KeySlots) {
      if (&other != &slot && other.Count != 0 && other.First >= at) {
        ++other.First;
      }
    }
  }
  index.KeyMembers[at] = number;
  ++slot.Count;
  ++index.KeyedCount;
}

void AddName(SymbolIndex& index, std::uint16_t number) {
  IndexedName& name = index.Names[number - 1];
  const unsigned char first = Bytes(name.Bytes)[0];
  const std::size_t key_length = KeyLength(TextOf(name));
  if (!index.NameStart[first]) {
    index.NameStart[first] = true;
    index.FirstRow[first] = static_cast<std::uint8_t>(name.Row);
    SetStartRanges(index);
  }
  if (key_length == 0) {
    name.NextOther = index.OtherStart[first];
    index.OtherStart[first] = number;
    return;
  }
  index.KeyLengths[first] |= std::uint64_t{1} << key_length;
  KeySlot& slot = index.KeySlots[FindKeySlot(index, Bytes(name.Bytes), key_length)];
  slot.Tag = KeyTag(Bytes(name.Bytes), key_length);
  AddToKey(index, slot, static_cast<std::uint8_t>(number));
}

// One scan of a line: the line with its padding, one bit for each of its
// bytes that is a letter or digit, and what has been found so far. Only the
// bytes in use are written.
struct Scan {
  Scan(const SymbolIndex& scan_index, std::string_view text)
      : index(scan_index),
        length(std::min(text.size(), MaxBoundedCapacity)),
        blocks(length / BlockSize + 1) {
    CopyShort(line, Bytes(text.data()), length);
    std::memset(line + length, 0, BlockSize);
    // The line and the zero after it.
    ClassifyBytes(line, length + 1, index.StartRanges, words, starts);
  }

  const SymbolIndex& index;
  std::size_t length;
  std::size_t blocks;  // those that hold the line and the zero after it
  unsigned char line[PaddedSize];
  std::uint64_t words[BlockCount];   // bit k of words[b]: byte 64 b + k is a letter or digit
  std::uint64_t starts[BlockCount];  // bit k of starts[b]: byte 64 b + k is in a start range
  SymbolMatch best{.Row = MaxIndexedRows + 1};
};

// The end of the run of letters and digits that holds `at`: the first byte
// after it that is none, at the latest the zero byte after the line.
std::size_t RunEnd(const Scan& scan, std::size_t at) {
  std::size_t block = at / BlockSize;
  std::uint64_t others = ~scan.words[block] & ~std::uint64_t{0} << (at % BlockSize);
  while (others == 0) {
    others = ~scan.words[++block];
  }
  return block * BlockSize + LowestBit(others);
}

// The first letter or digit at or after `at`, or the line's length when the
// line has none there.
std::size_t RunStart(const Scan& scan, std::size_t at) {
  std::size_t block = at / BlockSize;
  std::uint64_t words = scan.words[block] & ~std::uint64_t{0} << (at % BlockSize);
  while (words == 0 && ++block < scan.blocks) {
    words = scan.words[block];
  }
  return words == 0 ? scan.length : block * BlockSize + LowestBit(words);
}

// True when the name starts somewhere before 0-based `at` in the line. The
// first byte is looked for eight bytes at a time (with now and then a false
// hit above a true one), the rest compared where it is.
bool OccursBefore(const Scan& scan, const IndexedName& name, std::size_t at) {
  const std::uint64_t first = LowBits * Bytes(name.Bytes)[0];
  for (std::size_t chunk = 0; chunk * 8 < at; ++chunk) {
    const std::uint64_t x = Load8(scan.line + chunk * 8) ^ first;
    for (std::uint64_t hits = (x - LowBits) & ~x & HighBits; hits != 0; hits &= hits - 1) {
      const std::size_t start = chunk * 8 + FirstByte(hits);
      if (start >= at) {
        return false;
      }
      if (Equal(scan.line + start, Bytes(name.Bytes), name.Length)) {
        return true;
      }
    }
  }
  return false;
}

// Whether the name may stand at 0-based `at` as a whole word, given that it
// begins after no letter or digit: its row comes before the best found so
// far, it fits, no letter or digit follows it (the zero after the line is
// none), and its first eight bytes are there. `head` is the eight bytes at
// `at`. Most names tried fail here; the tests are few and made without a
// branch, so that they stay in the caller's loop.
bool MayStandAt(const Scan& scan, const IndexedName& name, std::size_t at, std::uint64_t head) {
  const std::size_t n = name.Length;
  const bool earlier = name.Row < scan.best.Row;
  const bool fits = n <= scan.length - at;  // when not, line[at + n] is still in the padding
  const bool ends = !IsWord(scan.line[at + n]);
  const bool head_same = ((head ^ Load8(Bytes(name.Bytes))) & name.HeadMask) == 0;
  return earlier & fits & ends & head_same;
}

// A name that may stand at `at`: the rest of its bytes are compared, and it
// applies if no occurrence at all starts before `at`. A name that is met
// again is judged again, with the same verdict: an earlier occurrence stays
// earlier.
void Judge(Scan& scan, const IndexedName& name, std::size_t at) {
  if (name.Length > 8 && !Equal(scan.line + at + 8, Bytes(name.Bytes) + 8, name.Length - 8u)) {
    return;
  }
  if (OccursBefore(scan, name, at)) {
    return;
  }
  scan.best = SymbolMatch{.Row = name.Row,
                          .Position = static_cast<std::int32_t>(at + 1),
                          .Length = static_cast<std::int32_t>(name.Length)};
}

// A place where a whole-word occurrence may begin: a byte that begins some
// name, after no letter or digit. The names there are looked up by the key
// that starts there: up to the end of the run of letters and digits that
// starts there or, from any other byte, of the first such run after it.
// Names that hold no letter or digit are tried one by one.
void TryStart(Scan& scan, std::size_t at) {
  const SymbolIndex& index = scan.index;
  const std::uint64_t head = Load8(scan.line + at);
  const unsigned char c = scan.line[at];
  std::size_t run = at;
  if (!IsWord(c)) {
    for (std::uint16_t number = index.OtherStart[c]; number != None;
         number = index.Names[number - 1].NextOther) {
      const IndexedName& name = index.Names[number - 1];
      if (MayStandAt(scan, name, at, head)) {
        Judge(scan, name, at);
      }
    }
    run = RunStart(scan, at);
    if (run == scan.length) {
      return;
    }
  }
  const std::size_t length = RunEnd(scan, run) - at;
  // Most keys are none at all: none of their length begins with their byte.
  if (length > MaxNameLength || (index.KeyLengths[c] >> length & 1) == 0) {
    return;
  }
  const KeySlot& slot = index.KeySlots[FindKeySlot(index, scan.line + at, length)];
  for (std::size_t k = slot.First; k < std::size_t{slot.First} + slot.Count; ++k) {
    const IndexedName& name = index.Names[index.KeyMembers[k] - 1];
    if (MayStandAt(scan, name, at, head)) {
      Judge(scan, name, at);
    }
  }
}

// Every place where a whole-word occurrence may begin: a byte that begins
// some name, after no letter or digit. The start ranges leave few places to
// look at; they are gathered without a branch that depends on the text, then
// tried.
void TryStarts(Scan& scan) {
  std::uint8_t starts[MaxBoundedCapacity];
  std::size_t count = 0;
  std::uint64_t before = 0;  // the last bit of the block before
  for (std::size_t block = 0; block < scan.blocks; ++block) {
    const std::uint64_t words = scan.words[block];
    std::uint64_t places = scan.starts[block] & ~(words << 1 | before);
    before = words >> 63;
    const std::size_t in_line = scan.length - block * BlockSize;
    if (in_line < BlockSize) {
      places &= (std::uint64_t{1} << in_line) - 1;
    }
    for (; places != 0; places &= places - 1) {
      const std::size_t at = block * BlockSize + LowestBit(places);
      starts[count] = static_cast<std::uint8_t>(at);
      count += static_cast<std::size_t>(scan.index.NameStart[scan.line[at]]);
    }
  }
  // A place is passed over when no name that begins there comes before the
  // best row found so far; no place can beat the first row of all.
  const std::int32_t first_row = scan.index.Names[0].Row;
  for (std::size_t k = 0; k < count && scan.best.Row != first_row; ++k) {
    if (scan.index.FirstRow[scan.line[starts[k]]] < scan.best.Row) {
      TryStart(scan, starts[k]);
    }
  }
}

}  // namespace

namespace {

// The indexed name equal to text, or None when no row with a value has it.
std::int32_t FindName(const SymbolIndex& index, std::string_view text) {
  if (text.empty() || text.size() > MaxNameLength) {
    return None;
  }
  const std::size_t key_length = KeyLength(text);
  if (key_length == 0) {
    for (std::uint16_t k = index.OtherStart[Bytes(text.data())[0]]; k != None;
         k = index.Names[k - 1].NextOther) {
      if (TextOf(index.Names[k - 1]) == text) {
        return k;
      }
    }
    return None;
  }
  const KeySlot& slot = index.KeySlots[FindKeySlot(index, Bytes(text.data()), key_length)];
  for (std::size_t k = slot.First; k < std::size_t{slot.First} + slot.Count; ++k) {
    if (TextOf(index.Names[index.KeyMembers[k] - 1]) == text) {
      return index.KeyMembers[k];
    }
  }
  return None;
}

}  // namespace

void ResetSymbolIndex(SymbolIndex& index) {
  // Every change to an index counts a row first, so an index without rows is
  // all zeros already; not writing it again spares a fresh process the pages.
  if (index.IndexedRows != 0) {
    index = SymbolIndex{};
  }
}

void IndexNextRow(SymbolIndex& index, std::string_view text, bool has_value) {
  if (index.IndexedRows >= MaxIndexedRows) {
    return;
  }
  const auto row = static_cast<std::uint16_t>(++index.IndexedRows);
  // An empty name is never found; a longer one is never stored.
  if (!has_value || text.empty() || text.size() > MaxNameLength || FindName(index, text) != None) {
    return;
  }
  const auto number = static_cast<std::uint16_t>(++index.NameCount);
  IndexedName& name = index.Names[number - 1];
  name.Length = static_cast<std::uint8_t>(text.size());
  name.Row = row;
  std::memcpy(name.Bytes, text.data(), text.size());
  name.HeadMask =
      text.size() >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * text.size())) - 1;
  AddName(index, number);
}

SymbolMatch FindSymbol(const SymbolIndex& index, std::string_view line) {
  if (index.NameCount == 0 || line.empty()) {
    return SymbolMatch{};
  }
  Scan scan(index, line);
  TryStarts(scan);
  return scan.best.Row <= MaxIndexedRows ? scan.best : SymbolMatch{};
}

}  // namespace velk
