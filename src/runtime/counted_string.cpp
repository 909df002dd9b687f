#include "runtime/counted_string.h"

#include <algorithm>
#include <limits>

namespace velk {

std::int32_t CountedLength(const CountedString& s) {
  const std::size_t limit = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::min(s.size(), limit));
}

CountedString CountedSubstring(const CountedString& s, std::int32_t index, std::int32_t count) {
  const std::int64_t length = CountedLength(s);
  const std::int64_t offset = std::max<std::int64_t>(std::int64_t{index} - 1, 0);
  std::int64_t wanted = count;
  if (wanted > length || offset + wanted > length) {
    wanted = length - offset;
  }
  if (wanted <= 0) {
    return CountedString();
  }
  return s.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(wanted));
}

std::int32_t CountedCompare(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int difference = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    if (difference != 0) {
      return difference;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace velk
