// How one scan goes: the line is looked at where it lies, with the bits its
// reader made of the buffer in one pass after the read: letters and digits,
// and bytes in the ranges that names beginning with another byte begin with.
// From the first, the starts and the last bytes of the runs of letters and
// digits come in step, 64 bytes at a time. Each run is looked up once: most
// are passed over because no key of their length begins with their first
// byte, most others because the slot of their first eight bytes in the key
// table is empty. A run that is some name's key goes on: the usual key, the
// key of one name that is the key itself, is judged at once (the line
// searched for an earlier occurrence); for any other, the rest of each of
// its names is compared and the byte after it looked at. The places at other
// bytes come in a second loop, when some name begins with such a byte. A line
// of at most 64 bytes, most lines, is scanned where the line loop is; a
// longer one, and every key found, apart. Nothing is allocated and no work is
// done per row of the table.
#include "engine/symbol_matcher.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VELK_MATCHER_SSE2 1
#endif

#include "runtime/bounded_string.h"

namespace velk {

namespace {

constexpr std::size_t BlockSize = ClassBlockSize;
constexpr std::size_t LineWords = (MaxBoundedCapacity + BlockSize - 1) / BlockSize;

bool IsWord(unsigned char c) {
  return static_cast<unsigned char>((c | 0x20u) - 'a') < 26 ||
         static_cast<unsigned char>(c - '0') < 10;
}

const unsigned char* Bytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}

// Eight bytes as one number, the first byte lowest on any machine.
std::uint64_t Load8(const unsigned char* bytes) {
  std::uint64_t v = 0;
  std::memcpy(&v, bytes, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    v = __builtin_bswap64(v);
  }
  return v;
}

// Masks of the first n bytes of a Load8 (all eight from eight on), for n up
// to a name's length.
constexpr auto HeadMasks = [] {
  std::array<std::uint64_t, MaxNameLength + 1> masks{};
  for (std::size_t n = 1; n <= MaxNameLength; ++n) {
    masks[n] = ~std::uint64_t{0} >> (64 - 8 * std::min<std::size_t>(n, 8));
  }
  return masks;
}();

// The first `length` bytes (at most MaxNameLength) of a Load8.
std::uint64_t HeadOf(std::uint64_t eight, std::size_t length) { return eight & HeadMasks[length]; }

// The slot a key's head is looked for first. A 32-bit processor mixes the
// two halves with 32-bit multiplications.
std::size_t SlotOf(std::uint64_t head) {
  static_assert(KeySlotCount == 2048);
  if constexpr (sizeof(void*) >= 8) {
    return static_cast<std::size_t>((head * 0x9E3779B97F4A7C15u) >> 53);
  } else {
    const auto low = static_cast<std::uint32_t>(head),
               high = static_cast<std::uint32_t>(head >> 32);
    return ((low * 0x9E3779B1u) ^ (high * 0x85EBCA77u)) >> 21;
  }
}

std::size_t NextSlot(std::size_t slot) { return (slot + 1) & (KeySlotCount - 1); }

// The index of the lowest bit set in `bits`, which is not 0.
std::size_t LowestBit(std::uint64_t bits) { return static_cast<unsigned>(__builtin_ctzll(bits)); }

// Compares n bytes, eight at a time; both sides may be read up to the next
// multiple of eight past n.
bool Equal(const unsigned char* a, const unsigned char* b, std::size_t n) {
  for (std::size_t k = 0; k < n; k += 8) {
    if (HeadOf(Load8(a + k) ^ Load8(b + k), n - k) != 0) {
      return false;
    }
  }
  return true;
}

std::string_view TextOf(const IndexedName& name) {
  return std::string_view(name.Bytes, name.Length);
}

// The length of a name's key: the name up to the end of its first run of
// letters and digits. 0 when the name holds no letter or digit, and also
// when the key's first eight bytes are all zero (eight zero bytes before the
// first letter or digit), for the key table takes a zero as an empty slot:
// such a name is found as one with no letter or digit is, at its first byte.
std::size_t KeyLength(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !IsWord(static_cast<unsigned char>(text[n]))) {
    ++n;
  }
  if (n == text.size() || (n >= 8 && text.substr(0, 8).find_first_not_of('\0') == text.npos)) {
    return 0;
  }
  while (n < text.size() && IsWord(static_cast<unsigned char>(text[n]))) {
    ++n;
  }
  return n;
}

// Sets the ranges from the bytes other than letters and digits that begin
// a name: their runs, the closest runs joined until there are few enough;
// unused ranges repeat the last one.
void SetStartRanges(SymbolIndex& index) {
  std::array<std::size_t, 256> low{}, high{};
  std::size_t runs = 0;
  for (std::size_t c = 0; c < 256; ++c) {
    if (index.OtherFirst[c] && (c == 0 || !index.OtherFirst[c - 1])) {
      low[runs++] = c;
    }
    if (index.OtherFirst[c]) {
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

// The slot of the key that `text` (at least `length` bytes, readable eight
// past them) begins with, or the empty slot where it would go.
std::size_t FindKeySlot(const SymbolIndex& index, const unsigned char* text, std::size_t length) {
  const std::uint64_t head = HeadOf(Load8(text), length);
  std::size_t slot = SlotOf(head);
  for (; index.KeyHeads[slot] != 0; slot = NextSlot(slot)) {
    const KeySlot& key = index.KeySlots[slot];
    if (index.KeyHeads[slot] == head && key.Length == length &&
        (length <= 8 ||
         Equal(text + 8, Bytes(index.Names[key.FirstName - 1].Bytes) + 8, length - 8))) {
      break;
    }
  }
  return slot;
}

// Puts `number` at the end of a chain that begins at `first`, through `next`.
void Append(SymbolIndex& index, std::uint8_t& first, std::uint8_t IndexedName::*next,
            std::uint8_t number) {
  std::uint8_t* link = &first;
  while (*link != 0) {
    link = &(index.Names[*link - 1].*next);
  }
  *link = number;
}

// The indexed name equal to text, or 0 when no row with a value has it.
std::uint8_t FindName(const SymbolIndex& index, const IndexedName& text) {
  const std::size_t key_length = KeyLength(TextOf(text));
  std::uint8_t number = 0;
  if (key_length == 0) {
    number = index.OtherStart[Bytes(text.Bytes)[0]];
  } else {
    const std::size_t slot = FindKeySlot(index, Bytes(text.Bytes), key_length);
    number = index.KeyHeads[slot] != 0 ? index.KeySlots[slot].FirstName : 0;
  }
  while (number != 0 && TextOf(index.Names[number - 1]) != TextOf(text)) {
    const IndexedName& name = index.Names[number - 1];
    number = key_length == 0 ? name.NextOther : name.NextSameKey;
  }
  return number;
}

void AddName(SymbolIndex& index, std::uint8_t number) {
  IndexedName& name = index.Names[number - 1];
  const unsigned char first = Bytes(name.Bytes)[0];
  if (!IsWord(first) && !index.OtherFirst[first]) {
    index.OtherFirst[first] = true;
    SetStartRanges(index);
  }
  if (name.KeyLength == 0) {
    Append(index, index.OtherStart[first], &IndexedName::NextOther, number);
    return;
  }
  index.KeyLengths[first] |= std::uint64_t{1} << name.KeyLength;
  const std::size_t slot = FindKeySlot(index, Bytes(name.Bytes), name.KeyLength);
  if (index.KeyHeads[slot] == 0) {
    index.KeyHeads[slot] = HeadOf(Load8(Bytes(name.Bytes)), name.KeyLength);
    index.KeySlots[slot].Length = name.KeyLength;
    index.KeySlots[slot].FirstRow = static_cast<std::uint8_t>(name.Row);
  }
  Append(index, index.KeySlots[slot].FirstName, &IndexedName::NextSameKey, number);
}

// One scan of a line: its bytes and the classes of its own bytes (none past
// it, so the cut-off rest of a longer line counts as nothing). The bytes may
// be read up to 64 past the line.
struct Scan {
  const SymbolIndex& index;
  const unsigned char* line;
  std::size_t length;
  // Bit k of words[k / 64]: byte k is a letter or digit; words[0..count],
  // the last of them 0, count the words the line takes.
  const std::uint64_t* words;
  std::size_t count;
};

// The best match so far: the row (MaxIndexedRows + 1 while there is none),
// and where its name stands (0-based) and its length.
struct Best {
  std::uint32_t Row = MaxIndexedRows + 1;
  std::uint32_t At = 0, Length = 0;
};

bool IsWordAt(const Scan& scan, std::size_t at) {
  return (scan.words[at / BlockSize] >> (at % BlockSize) & 1) != 0;
}

// The 64 class bits of bytes at..at+63 from a buffer's class words.
std::uint64_t BitsAt(const std::uint64_t* bits, std::size_t at) {
  const std::size_t word = at / BlockSize, shift = at % BlockSize;
  return bits[word] >> shift | (bits[word + 1] << 1) << (BlockSize - 1 - shift);
}

// The number of class words a line of `length` bytes takes.
std::size_t WordsOf(std::size_t length) { return (length + BlockSize - 1) / BlockSize; }

// The bits of the bytes before `length` in the last word of a line.
std::uint64_t LastWordMask(std::size_t length) {
  return ~std::uint64_t{0} >> ((BlockSize - length % BlockSize) % BlockSize);
}

// A line's own class bits, taken from the buffer's: bytes past the line get
// 0, and so does the word after its last.
[[gnu::always_inline]] inline void TakeBits(const std::uint64_t* bits, std::size_t first,
                                            std::size_t length, std::uint64_t* out) {
  const std::size_t count = WordsOf(length);
  for (std::size_t k = 0; k < count; ++k) {
    out[k] = BitsAt(bits, first + k * BlockSize);
  }
  out[count - 1] &= LastWordMask(length);
  out[count] = 0;
}

// True when the name stands at `place` whole: a candidate of the search
// below, which most names never get to.
[[gnu::noinline]] bool StandsAt(const unsigned char* place, const IndexedName& name) {
  return Equal(place, Bytes(name.Bytes), name.Length);
}

// True when the name starts somewhere before 0-based `at` in the line. Its
// first two bytes are looked for 16 places at a time (the plain version:
// the first byte, 8 at a time), the rest compared where they are.
[[gnu::always_inline]] inline bool OccursBefore(const unsigned char* line, const IndexedName& name,
                                                std::size_t at) {
#if defined(VELK_MATCHER_SSE2)
  const auto broadcast = [](std::uint64_t eight) {
    return _mm_set1_epi64x(static_cast<long long>(eight));
  };
  const __m128i first = broadcast(name.FirstBytes), second = broadcast(name.SecondBytes);
  for (std::size_t chunk = 0; chunk < at; chunk += 16) {
    const auto* place = reinterpret_cast<const __m128i*>(line + chunk);
    __m128i pair = _mm_cmpeq_epi8(_mm_loadu_si128(place), first);
    if (name.Length > 1) {
      const auto* next = reinterpret_cast<const __m128i*>(line + chunk + 1);
      pair = _mm_and_si128(pair, _mm_cmpeq_epi8(_mm_loadu_si128(next), second));
    }
    auto hits = static_cast<std::uint32_t>(_mm_movemask_epi8(pair));
    if (at - chunk < 16) {
      hits &= (1u << (at - chunk)) - 1;
    }
    for (; hits != 0; hits &= hits - 1) {
      if (StandsAt(line + chunk + LowestBit(hits), name)) {
        return true;
      }
    }
  }
  return false;
#else
  constexpr std::uint64_t LowBits = 0x0101010101010101u, HighBits = 0x8080808080808080u;
  for (std::size_t chunk = 0; chunk < at; chunk += 8) {
    const std::uint64_t x = Load8(line + chunk) ^ name.FirstBytes;
    // Now and then a false hit above a true one: each is compared whole.
    for (std::uint64_t hits = (x - LowBits) & ~x & HighBits; hits != 0; hits &= hits - 1) {
      const std::size_t start = chunk + LowestBit(hits) / 8;
      if (start >= at) {
        return false;
      }
      if (StandsAt(line + start, name)) {
        return true;
      }
    }
  }
  return false;
#endif
}

// Tries the names of a chain (in order of their rows) at `at`, where their
// key stands, or where the first byte of those with no letter or digit
// stands: the first that stands there as a whole word, whose row beats the
// best so far, and that occurs nowhere before is the best now.
template <std::uint8_t IndexedName::*Next>
[[gnu::always_inline]] inline Best TryNames(const Scan& scan, std::uint8_t number, std::size_t at,
                                            Best best) {
  for (; number != 0; number = scan.index.Names[number - 1].*Next) {
    const IndexedName& name = scan.index.Names[number - 1];
    if (name.Row >= best.Row) {
      break;
    }
    if (name.Length != name.KeyLength &&
        (name.Length > scan.length - at || IsWordAt(scan, at + name.Length) ||
         !Equal(scan.line + at + name.KeyLength, Bytes(name.Bytes) + name.KeyLength,
                name.Length - name.KeyLength))) {
      continue;
    }
    if (!OccursBefore(scan.line, name, at)) {
      return Best{.Row = name.Row, .At = static_cast<std::uint32_t>(at), .Length = name.Length};
    }
  }
  return best;
}

// The names whose key is the `length` bytes (at most MaxNameLength) at
// `at`, in every case the quick look below leaves: the slots from the first
// one on, up to an empty one, for this very key.
Best LookUpKey(const Scan& scan, std::size_t at, std::size_t length, Best best) {
  const std::size_t slot = FindKeySlot(scan.index, scan.line + at, length);
  if (scan.index.KeyHeads[slot] == 0 || scan.index.KeySlots[slot].FirstRow >= best.Row) {
    return best;
  }
  return TryNames<&IndexedName::NextSameKey>(scan, scan.index.KeySlots[slot].FirstName, at, best);
}

// What the quick look at a key found.
enum class Looked : std::uint8_t {
  NoKey,      // no key of this length begins with this byte, or its first slot is empty
  Judged,     // the usual key: the best is up to date
  Elsewhere,  // a key that LookUpKey has to look up
};

// The quick look at the `run` bytes at `at` as a key. Most runs are no key:
// no key of their length begins with their first byte, or the slot of their
// first eight bytes is empty. The usual key found is judged here: one of at
// most eight bytes, in its first slot, whose names cannot beat the best, or
// the key of one name that is the key itself.
[[gnu::always_inline]] inline Looked LookQuickly(const SymbolIndex& index,
                                                 const unsigned char* line, std::size_t at,
                                                 std::size_t run, Best& best) {
  if (run > MaxNameLength || (index.KeyLengths[line[at]] >> run & 1) == 0) {
    return Looked::NoKey;
  }
  const std::uint64_t head = HeadOf(Load8(line + at), run);
  const std::size_t slot = SlotOf(head);
  if (index.KeyHeads[slot] == 0) {
    return Looked::NoKey;
  }
  const KeySlot& key = index.KeySlots[slot];
  if (index.KeyHeads[slot] != head || key.Length != run || run > 8) {
    return Looked::Elsewhere;
  }
  const IndexedName& name = index.Names[key.FirstName - 1];
  if (name.Row >= best.Row) {
    return Looked::Judged;  // the first name of a key has the smallest row
  }
  if (name.Length != run || name.NextSameKey != 0) {
    return Looked::Elsewhere;
  }
  if (!OccursBefore(line, name, at)) {
    best = Best{.Row = name.Row, .At = static_cast<std::uint32_t>(at), .Length = name.Length};
  }
  return Looked::Judged;
}

// The key of `run` bytes at `at` in a line whose scan is at hand.
[[gnu::always_inline]] inline Best LookUp(const Scan& scan, std::size_t at, std::size_t run,
                                          Best best) {
  if (LookQuickly(scan.index, scan.line, at, run, best) == Looked::Elsewhere) {
    best = LookUpKey(scan, at, run, best);
  }
  return best;
}

// Every run of letters and digits of a line of more than 64 bytes, looked
// up in line order: the starts and the last bytes of the runs in step, one
// class word at a time; a run that goes on into the next word is looked up
// where its last byte is.
Best TryLongLineRuns(const Scan& scan, Best best) {
  const std::uint32_t first_row = scan.index.Names[0].Row;
  std::uint64_t before = 0;  // the last bit of the word before: the line begins after none
  std::size_t open = 0;      // where a run that goes on into this word began, + 1
  for (std::size_t k = 0; k < scan.count; ++k) {
    const std::uint64_t words = scan.words[k];
    std::uint64_t starts = words & ~(words << 1 | before);
    std::uint64_t lasts = words & ~(words >> 1 | scan.words[k + 1] << (BlockSize - 1));
    before = words >> (BlockSize - 1);
    const std::size_t base = k * BlockSize;
    for (; lasts != 0; lasts &= lasts - 1) {
      const std::size_t last = base + LowestBit(lasts);
      std::size_t at = open - 1;
      if (open == 0) {
        at = base + LowestBit(starts);
        starts &= starts - 1;
      }
      open = 0;
      const std::size_t run = last + 1 - at;
      const Looked looked = LookQuickly(scan.index, scan.line, at, run, best);
      if (looked == Looked::Elsewhere) {
        best = LookUpKey(scan, at, run, best);
      }
      if (looked != Looked::NoKey && best.Row == first_row) {
        return best;
      }
    }
    if (starts != 0) {
      open = base + LowestBit(starts) + 1;
    }
  }
  return best;
}

// The first letter or digit at or after `at`, or the line's length when
// there is none.
std::size_t RunStartFrom(const Scan& scan, std::size_t at) {
  std::size_t k = at / BlockSize;
  std::uint64_t words = scan.words[k] & ~std::uint64_t{0} << (at % BlockSize);
  while (words == 0 && ++k < scan.count) {
    words = scan.words[k];
  }
  return words == 0 ? scan.length : k * BlockSize + LowestBit(words);
}

// The first byte at or after `at` that is no letter or digit (the line's
// length at the latest).
std::size_t RunEndFrom(const Scan& scan, std::size_t at) {
  std::size_t k = at / BlockSize;
  std::uint64_t others = ~scan.words[k] & ~std::uint64_t{0} << (at % BlockSize);
  while (others == 0) {
    others = ~scan.words[++k];
  }
  return std::min(k * BlockSize + LowestBit(others), scan.length);
}

// The places at bytes other than letters and digits that begin some name,
// after no letter or digit, in line order (`in_ranges`: the line's own bits
// of bytes in the start ranges): the names there with no letter or digit,
// then the key that runs from there to the end of the first run of letters
// and digits after it.
Best TryOtherStarts(const Scan& scan, const std::uint64_t* in_ranges, Best best) {
  std::uint64_t before = 0;
  for (std::size_t k = 0; k < scan.count; ++k) {
    std::uint64_t places = in_ranges[k] & ~(scan.words[k] << 1 | before);
    before = scan.words[k] >> (BlockSize - 1);
    for (; places != 0; places &= places - 1) {
      const std::size_t at = k * BlockSize + LowestBit(places);
      const unsigned char c = scan.line[at];
      if (!scan.index.OtherFirst[c]) {
        continue;
      }
      best = TryNames<&IndexedName::NextOther>(scan, scan.index.OtherStart[c], at, best);
      const std::size_t run = RunStartFrom(scan, at + 1);
      if (run < scan.length) {
        best = LookUp(scan, at, RunEndFrom(scan, run) - at, best);
      }
    }
  }
  return best;
}

// A line of more than 64 bytes: its runs, then the places at other bytes.
[[gnu::noinline]] Best FindInLongLine(const SymbolIndex& index, const unsigned char* line,
                                      std::size_t length, const LineClasses& classes) {
  std::uint64_t words[LineWords + 1];
  TakeBits(classes.Words, classes.First, length, words);
  const Scan scan{
      .index = index, .line = line, .length = length, .words = words, .count = WordsOf(length)};
  Best best = TryLongLineRuns(scan, Best{});
  if (index.StartRanges.Any && best.Row != index.Names[0].Row) {
    std::uint64_t in_ranges[LineWords + 1];
    TakeBits(classes.InRanges, classes.First, length, in_ranges);
    best = TryOtherStarts(scan, in_ranges, best);
  }
  return best;
}

// A line of at most 64 bytes, whose bits are `words` (those of its letters
// and digits) and `places` (of the bytes in the start ranges after no letter
// or digit): the key of `run` bytes at `at`, whose first slot is not empty,
// and, with `run` 0, the places at other bytes.
[[gnu::noinline]] Best LookUpInShortLine(const SymbolIndex& index, const unsigned char* line,
                                         std::size_t length, std::uint64_t words,
                                         std::uint64_t places, std::size_t at, std::size_t run,
                                         Best best) {
  const std::uint64_t bits[2] = {words, 0};
  const Scan scan{.index = index, .line = line, .length = length, .words = bits, .count = 1};
  return run != 0 ? LookUpKey(scan, at, run, best) : TryOtherStarts(scan, &places, best);
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
  if (!has_value || text.empty() || text.size() > MaxNameLength) {
    return;
  }
  IndexedName& name = index.Names[index.NameCount];
  name = IndexedName{};
  name.Length = static_cast<std::uint8_t>(text.size());
  name.KeyLength = static_cast<std::uint8_t>(KeyLength(text));
  name.Row = row;
  std::memcpy(name.Bytes, text.data(), text.size());
  name.FirstBytes = 0x0101010101010101u * Bytes(name.Bytes)[0];
  name.SecondBytes = 0x0101010101010101u * Bytes(name.Bytes)[1];
  if (FindName(index, name) == 0) {
    AddName(index, static_cast<std::uint8_t>(++index.NameCount));
  }
}

SymbolMatch FindSymbol(const SymbolIndex& index, std::string_view line,
                       const LineClasses& classes) {
  if (index.NameCount == 0 || line.empty()) {
    return SymbolMatch{};
  }
  const std::size_t length = std::min(line.size(), MaxBoundedCapacity);
  const unsigned char* bytes = Bytes(line.data());
  const std::uint32_t first_row = index.Names[0].Row;
  Best best;
  if (length > BlockSize) {
    best = FindInLongLine(index, bytes, length, classes);
  } else {
    // Most lines: the starts and the last bytes of their runs in one word,
    // and most runs looked up find their first slot empty.
    const std::uint64_t words = BitsAt(classes.Words, classes.First) & LastWordMask(length);
    std::uint64_t starts = words & ~(words << 1), lasts = words & ~(words >> 1);
    for (; starts != 0; starts &= starts - 1, lasts &= lasts - 1) {
      const std::size_t at = LowestBit(starts), run = LowestBit(lasts) + 1 - at;
      const Looked looked = LookQuickly(index, bytes, at, run, best);
      if (looked == Looked::Elsewhere) {
        best = LookUpInShortLine(index, bytes, length, words, 0, at, run, best);
      }
      if (looked != Looked::NoKey && best.Row == first_row) {
        break;
      }
    }
    if (index.StartRanges.Any && best.Row != first_row) {
      const std::uint64_t places =
          BitsAt(classes.InRanges, classes.First) & LastWordMask(length) & ~(words << 1);
      if (places != 0) {
        best = LookUpInShortLine(index, bytes, length, words, places, 0, 0, best);
      }
    }
  }
  if (best.Row > MaxIndexedRows) {
    return SymbolMatch{};
  }
  return SymbolMatch{.Row = static_cast<std::int32_t>(best.Row),
                     .Position = static_cast<std::int32_t>(best.At + 1),
                     .Length = static_cast<std::int32_t>(best.Length)};
}

}  // namespace velk
