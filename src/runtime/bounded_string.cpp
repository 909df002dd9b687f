#include "runtime/bounded_string.h"

#include <algorithm>

namespace velk {

void BoundedStoreInto(char* chars, std::uint8_t& length, std::size_t capacity,
                      std::string_view source) {
  const std::size_t n = std::min(source.size(), capacity);
  // memmove: a string may be stored into itself, or a piece of itself. An
  // empty view may have no storage at all, so nothing is copied from it.
  if (n != 0) {
    std::memmove(chars, source.data(), n);
  }
  length = static_cast<std::uint8_t>(n);
}

Line BoundedSubstring(std::string_view s, std::int32_t index, std::int32_t count) {
  const std::int64_t length = static_cast<std::int64_t>(s.size());
  std::int64_t wanted = std::max<std::int64_t>(count, 0);
  const std::int64_t offset = index > 1 ? std::int64_t{index} - 1 : 0;
  if (offset > length) {
    wanted = 0;
  } else {
    wanted = std::min(wanted, length - offset);
  }
  Line result;
  if (wanted > 0) {
    BoundedStore(result,
                 Slice(s, static_cast<std::size_t>(offset), static_cast<std::size_t>(wanted)));
  }
  return result;
}

std::int32_t BoundedFindChar(char c, std::string_view s) {
  const std::size_t at = s.find(c);
  return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

std::int32_t BoundedFind(std::string_view needle, std::string_view s) {
  if (needle.empty()) {
    return 0;
  }
  const std::size_t at = s.find(needle);
  return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

Line BoundedJoin(std::string_view a, std::string_view b) {
  Line result(a);
  const std::size_t room = MaxBoundedCapacity - result.size();
  const std::size_t taken = std::min(b.size(), room);
  std::copy_n(b.data(), taken, result.chars + result.length);
  result.length = static_cast<std::uint8_t>(result.length + taken);
  return result;
}

bool BoundedEquals(std::string_view a, std::string_view b) { return a == b; }

Line DecimalText(std::int32_t v) {
  // Digits are produced from the magnitude as an unsigned value, so the
  // smallest 32-bit value needs no special case to stay defined.
  char digits[12];
  std::size_t at = sizeof digits;
  std::uint32_t magnitude =
      v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  do {
    digits[--at] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (v < 0) {
    digits[--at] = '-';
  }
  return Line(std::string_view(digits + at, sizeof digits - at));
}

Line HexText(std::uint32_t v, std::int32_t digits) {
  static constexpr char HexDigits[] = "0123456789ABCDEF";
  const std::int32_t n = std::clamp<std::int32_t>(digits, 0, MaxBoundedCapacity);
  Line result;
  result.length = static_cast<std::uint8_t>(n);
  for (std::int32_t i = n - 1; i >= 0; --i) {
    result.chars[i] = HexDigits[v & 0xFu];
    v >>= 4;
  }
  return result;
}

Line AddressText(std::uint32_t v) { return BoundedJoin("  0x", HexText(v, 8)); }

}  // namespace velk
