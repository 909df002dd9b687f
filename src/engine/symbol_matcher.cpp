// How one scan goes: the line is looked at where it lies, with two of the bit
// masks its reader made of the buffer in one pass after the read: letters
// and digits, and bytes in the ranges that names beginning with another byte
// begin with. Their combination gives the places where a whole-word
// occurrence may begin; a place goes on only when some name begins with its
// first two bytes. It is then looked up by the length and the first eight
// bytes of its key: the run of letters and digits it starts or, on any other
// byte, the place up to the end of the first such run after it; each name
// found there is compared whole, eight bytes at a time, and only then looked
// for earlier in the line. Nothing is allocated and no work is done per row
// of the table.
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

constexpr std::size_t BlockSize = ClassBlockSize;

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

// Two bytes as one number as the machine reads them, the order being its own:
// an index into PairStarts that costs one load.
std::size_t PairAt(const unsigned char* bytes) {
  std::uint16_t v = 0;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

void MarkPair(SymbolIndex& index, unsigned char first, unsigned char second) {
  const unsigned char pair[2] = {first, second};
  const std::size_t at = PairAt(pair);
  index.PairStarts[at / 64] |= std::uint64_t{1} << (at % 64);
}

// The byte index of the lowest byte with its high bit set in mask.
std::size_t FirstByte(std::uint64_t mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
}

std::size_t LowestBit(std::uint64_t bits) {
  return static_cast<std::size_t>(std::countr_zero(bits));
}

// Sets the ranges from the bytes other than letters and digits that begin
// a name: their runs, the closest runs joined until there are few enough;
// unused ranges repeat the last one. (Where a letter or digit begins a name,
// a run of them begins: the classes show that without a range.)
void SetStartRanges(SymbolIndex& index) {
  const auto other = [&](std::size_t c) {
    return index.FirstRow[c] != 0 && !IsWord(static_cast<unsigned char>(c));
  };
  std::array<std::size_t, 256> low{}, high{};
  std::size_t runs = 0;
  for (std::size_t c = 0; c < 256; ++c) {
    if (other(c) && (c == 0 || !other(c - 1))) {
      low[runs++] = c;
    }
    if (other(c)) {
      high[runs - 1] = c;
    }
  }
  index.StartRanges.Any = runs > 0;
  if (runs == 0) {
    return;
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

// A fingerprint of a key: its length and its first eight bytes (those of
// them that belong to it), mixed by one multiplication; never zero. `head` is
// the eight bytes at the key's start, read as Load8 reads them.
std::uint32_t KeyTag(std::uint64_t head, std::size_t length) {
  const std::uint64_t kept = length >= 8 ? head : head & ((std::uint64_t{1} << (8 * length)) - 1);
  return static_cast<std::uint32_t>(((kept + length) * 0x9E3779B97F4A7C15u) >> 32) | 1u;
}

// The eight bytes of a text of any length that Load8 would read, zeros
// where the text ends.
std::uint64_t HeadOf(std::string_view text) {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, text.data(), std::min<std::size_t>(text.size(), 8));
  return Load8(bytes);
}

std::size_t SlotOf(std::uint32_t tag) {
  static_assert(KeySlotCount == 512);
  return tag >> 1 & (KeySlotCount - 1);
}

// The slot for keys with this fingerprint, or the empty slot where it would
// go. Keys that share a fingerprint share a slot: a name is compared whole
// wherever it is tried, so its slot only needs to hold it. The table is
// never full: it has more slots than there are names.
std::size_t FindKeySlot(const SymbolIndex& index, std::uint32_t tag) {
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
  // A name of one byte may stand before any byte: its first byte alone lets
  // a place through.
  for (unsigned second = 0; second < 256; ++second) {
    if (name.Length == 1 || second == Bytes(name.Bytes)[1]) {
      MarkPair(index, first, static_cast<unsigned char>(second));
    }
  }
  if (index.FirstRow[first] == 0) {
    index.FirstRow[first] = static_cast<std::uint8_t>(name.Row);
    if (!IsWord(first)) {
      SetStartRanges(index);
    }
  }
  if (key_length == 0) {
    name.NextOther = index.OtherStart[first];
    index.OtherStart[first] = number;
    return;
  }
  index.KeyLengths[first] |= std::uint64_t{1} << key_length;
  const std::uint32_t tag = KeyTag(HeadOf(TextOf(name)), key_length);
  KeySlot& slot = index.KeySlots[FindKeySlot(index, tag)];
  slot.Tag = tag;
  AddToKey(index, slot, static_cast<std::uint8_t>(number));
}

// One scan of a line: its bytes and their classes, and what has been found
// so far. The bytes may be read up to eight past the line; the classes past
// it are not looked at, for they may belong to the line's cut-off rest.
struct Scan {
  const SymbolIndex& index;
  const unsigned char* line;
  std::size_t length;
  const std::uint64_t* words;   // bit first + k: byte k is a letter or digit
  const std::uint64_t* starts;  // bit first + k: byte k is in a start range
  std::size_t first;
  SymbolMatch best{.Row = MaxIndexedRows + 1};
};

bool IsWordAt(const Scan& scan, std::size_t at) {
  const std::size_t bit = scan.first + at;
  return at < scan.length && (scan.words[bit / BlockSize] >> (bit % BlockSize) & 1) != 0;
}

// The end of the run of letters and digits that holds `at`: the first byte
// after it that is none, at the latest the line's end. (The classes end with
// a byte that is none, at the latest after the buffer's last byte.)
std::size_t RunEnd(const Scan& scan, std::size_t at) {
  const std::size_t bit = scan.first + at;
  std::size_t block = bit / BlockSize;
  std::uint64_t others = ~scan.words[block] & ~std::uint64_t{0} << (bit % BlockSize);
  while (others == 0) {
    others = ~scan.words[++block];
  }
  return std::min(block * BlockSize + LowestBit(others) - scan.first, scan.length);
}

// The first letter or digit at or after `at`, or the line's length when the
// line has none there.
std::size_t RunStart(const Scan& scan, std::size_t at) {
  const std::size_t bit = scan.first + at, last = (scan.first + scan.length - 1) / BlockSize;
  std::size_t block = bit / BlockSize;
  std::uint64_t words = scan.words[block] & ~std::uint64_t{0} << (bit % BlockSize);
  while (words == 0 && ++block <= last) {
    words = scan.words[block];
  }
  return words == 0 ? scan.length
                    : std::min(block * BlockSize + LowestBit(words) - scan.first, scan.length);
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
// far, it fits, no letter or digit follows it (past the line there is
// none), and its first eight bytes are there. `head` is the eight bytes at
// `at`. Most names tried fail here; the tests are few and made without a
// branch, so that they stay in the caller's loop.
bool MayStandAt(const Scan& scan, const IndexedName& name, std::size_t at, std::uint64_t head) {
  const std::size_t n = name.Length;
  const bool earlier = name.Row < scan.best.Row;
  const bool fits = n <= scan.length - at;
  const bool ends = !IsWordAt(scan, at + n);
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
  const KeySlot& slot = index.KeySlots[FindKeySlot(index, KeyTag(head, length))];
  for (std::size_t k = slot.First; k < std::size_t{slot.First} + slot.Count; ++k) {
    const IndexedName& name = index.Names[index.KeyMembers[k] - 1];
    if (MayStandAt(scan, name, at, head)) {
      Judge(scan, name, at);
    }
  }
}

// Every place where a whole-word occurrence may begin: a byte that begins
// some name, after no letter or digit: where a run of letters and digits
// begins, and at the other bytes in the start ranges. They are tried in
// line order; a place is passed over when no name begins with its first two
// bytes or when none that begins there comes before the best row found so
// far, and no place can beat the first row of all. Bytes past the line have
// no classes, so no place lies there (the byte after a place may be past
// the line, where a name that would need it does not fit anyway).
void TryStarts(Scan& scan) {
  const std::int32_t first_row = scan.index.Names[0].Row;
  const std::size_t from = scan.first, to = scan.first + scan.length;
  std::uint64_t before = 0;  // the last bit of the block before: the line begins after none
  for (std::size_t block = from / BlockSize; block * BlockSize < to; ++block) {
    const std::uint64_t words = scan.words[block];
    std::uint64_t places = (words | scan.starts[block]) & ~(words << 1 | before);
    before = words >> 63;
    if (block == from / BlockSize) {
      places &= ~std::uint64_t{0} << (from % BlockSize);
    }
    if (to - block * BlockSize < BlockSize) {
      places &= (std::uint64_t{1} << (to % BlockSize)) - 1;
    }
    for (; places != 0; places &= places - 1) {
      const std::size_t at = block * BlockSize + LowestBit(places) - from;
      const std::size_t pair = PairAt(scan.line + at);
      const std::uint8_t row = scan.index.FirstRow[scan.line[at]];  // 0: no name begins so
      if ((scan.index.PairStarts[pair / 64] >> (pair % 64) & 1) != 0 && row < scan.best.Row) {
        TryStart(scan, at);
        if (scan.best.Row == first_row) {
          return;
        }
      }
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
  const KeySlot& slot = index.KeySlots[FindKeySlot(index, KeyTag(HeadOf(text), key_length))];
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

SymbolMatch FindSymbol(const SymbolIndex& index, std::string_view line,
                       const LineClasses& classes) {
  if (index.NameCount == 0 || line.empty()) {
    return SymbolMatch{};
  }
  Scan scan{.index = index,
            .line = Bytes(line.data()),
            .length = std::min(line.size(), MaxBoundedCapacity),
            .words = classes.Words,
            .starts = classes.InRanges,
            .first = classes.First};
  TryStarts(scan);
  return scan.best.Row <= MaxIndexedRows ? scan.best : SymbolMatch{};
}

}  // namespace velk
