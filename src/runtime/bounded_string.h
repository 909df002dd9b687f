// Bounded strings: text in fixed storage of at most 255 bytes that keeps only
// what fits. Every byte value is an ordinary character (zero and 128..255
// included); comparisons and searches work on byte values, positions are
// 1-based, and a search that finds nothing gives 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velk {

// The `count` bytes of text from 0-based `from` on, clamped to text. Unlike
// std::string_view::substr it has no failure to throw.
constexpr std::string_view Slice(std::string_view text, std::size_t from,
                                 std::size_t count = std::string_view::npos) {
  from = from < text.size() ? from : text.size();
  const std::size_t rest = text.size() - from;
  return std::string_view(text.data() + from, count < rest ? count : rest);
}

// The largest capacity a bounded string may have; joins are cut to it.
inline constexpr std::size_t MaxBoundedCapacity = 255;

// Stores source into storage of the given capacity: the first
// min(length, capacity) bytes are kept, the rest is dropped without a word.
void BoundedStoreInto(char* chars, std::uint8_t& length, std::size_t capacity,
                      std::string_view source);

// A string whose capacity (1..255) is part of its type: an 8-bit length and
// the characters, with no heap storage. Copies move only the characters in
// use; the slots past the length are never read.
template <std::size_t Capacity>
struct BoundedString {
  static_assert(Capacity >= 1 && Capacity <= MaxBoundedCapacity);

  std::uint8_t length = 0;    // characters in use, 0..Capacity
  char chars[Capacity] = {};  // only the first `length` are meaningful

  BoundedString() = default;
  // Keeps the first Capacity bytes of text.
  explicit BoundedString(std::string_view text) { BoundedStoreInto(chars, length, Capacity, text); }
  BoundedString(const BoundedString& other) : length(other.length) {
    std::memcpy(chars, other.chars, other.length);
  }
  BoundedString& operator=(const BoundedString& other) {
    length = other.length;
    std::memmove(chars, other.chars, other.length);
    return *this;
  }

  static constexpr std::size_t capacity() { return Capacity; }
  std::size_t size() const { return length; }
  bool empty() const { return length == 0; }
  std::string_view View() const { return std::string_view(chars, length); }
  operator std::string_view() const { return View(); }
  // The character at 1-based position `position` (1..length).
  unsigned char At(std::int32_t position) const {
    return static_cast<unsigned char>(chars[position - 1]);
  }
};

// The capacity every intermediate result has.
using Line = BoundedString<MaxBoundedCapacity>;

// Assignment of any text to a bounded string, cut to the target's capacity.
template <std::size_t Capacity>
void BoundedStore(BoundedString<Capacity>& target, std::string_view source) {
  BoundedStoreInto(target.chars, target.length, Capacity, source);
}

// The `count` characters of s from 1-based `index` on. An index of 1 or below
// starts at the first character without shortening the count; a negative
// count, or an index past the end, gives the empty string.
Line BoundedSubstring(std::string_view s, std::int32_t index, std::int32_t count);

// 1-based position of the first c in s, or 0.
std::int32_t BoundedFindChar(char c, std::string_view s);

// 1-based position of the first occurrence of needle in s; 0 when there is
// none, when the needle is empty, and when it is longer than s.
std::int32_t BoundedFind(std::string_view needle, std::string_view s);

// a followed by as much of b as fits in 255 characters.
Line BoundedJoin(std::string_view a, std::string_view b);

// Same length and same bytes; case counts.
bool BoundedEquals(std::string_view a, std::string_view b);

// Decimal digits of v, with a leading "-" for negative values; at most 11
// characters, no blanks.
Line DecimalText(std::int32_t v);

// Exactly `digits` upper-case hexadecimal digits of the low bits of v,
// leading zeros kept (0..255 digits; more are cut to 255).
Line HexText(std::uint32_t v, std::int32_t digits);

// "  0x" and the 8 hexadecimal digits of v: one line of a back-trace.
Line AddressText(std::uint32_t v);

}  // namespace velk
