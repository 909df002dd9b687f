// Counted strings: text of any length in storage of its own, in which the
// command-line arguments arrive before they are cut to bounded strings.
// A counted string is a plain value: every holder has its own, so no holder
// ever sees another's change. Running out of storage for one ends the run
// with the run-time error for exhausted memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/bounded_string.h"

namespace velk {

using CountedString = std::string;

// The length as a signed 32-bit count (clamped for absurdly long values).
std::int32_t CountedLength(const CountedString& s);

// The `count` characters of s from 1-based `index` on, clamped to s: an index
// below 1 starts at the first character; a count of 0 or less, or an index
// past the end, gives the empty string.
CountedString CountedSubstring(const CountedString& s, std::int32_t index, std::int32_t count);

// 0 when a and b are equal; otherwise the difference of the first differing
// bytes (as unsigned), or of the lengths when one is a prefix of the other.
std::int32_t CountedCompare(std::string_view a, std::string_view b);

// The target holds the first min(length(s), capacity) characters of s.
template <std::size_t Capacity>
void CountedToBounded(const CountedString& s, BoundedString<Capacity>& target) {
  BoundedStore(target, s);
}

}  // namespace velk
