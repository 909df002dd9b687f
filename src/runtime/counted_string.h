// Counted strings: text of any length in storage of its own, in which the
// command-line arguments arrive before they are cut to bounded strings.
// A counted string is a plain value: every holder has its own, so no holder
// ever sees another's change. Its storage comes from the program's heap
// (operator new), so running out of storage for one ends the run with the
// run-time error for exhausted memory. The program uses no container of the
// C++ library: those report failures by exceptions, and the program neither
// throws nor links the library's run-time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "runtime/bounded_string.h"

namespace velk {

class CountedString {
 public:
  CountedString() = default;
  CountedString(std::string_view text);
  // Anything that reads as text (a literal, a std::string) converts too.
  template <typename Text>
  requires(std::is_convertible_v<const Text&, std::string_view> &&
           !std::is_same_v<Text, CountedString> && !std::is_same_v<Text, std::string_view>)
      CountedString(const Text& text)
      : CountedString(std::string_view(text)) {}
  CountedString(const CountedString& other) : CountedString(other.View()) {}
  CountedString(CountedString&& other) noexcept;
  CountedString& operator=(const CountedString& other);
  CountedString& operator=(CountedString&& other) noexcept;
  ~CountedString();

  std::string_view View() const { return std::string_view(chars_, length_); }
  operator std::string_view() const { return View(); }
  const char* data() const { return chars_; }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }

  // Adds one byte at the end.
  void Append(char c);

  friend bool operator==(const CountedString& a, const CountedString& b) {
    return a.View() == b.View();
  }

 private:
  void Reserve(std::size_t capacity);

  char* chars_ = nullptr;
  std::size_t length_ = 0;
  std::size_t capacity_ = 0;
};

// A list of counted strings that grows by one at a time; it owns them.
class CountedList {
 public:
  CountedList() = default;
  CountedList(CountedList&& other) noexcept;
  CountedList& operator=(CountedList&& other) noexcept;
  CountedList(const CountedList&) = delete;
  CountedList& operator=(const CountedList&) = delete;
  ~CountedList();

  void Add(CountedString text);
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  CountedString& operator[](std::size_t i) { return items_[i]; }
  const CountedString& operator[](std::size_t i) const { return items_[i]; }
  const CountedString* begin() const { return items_; }
  const CountedString* end() const { return items_ + count_; }

 private:
  CountedString* items_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

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
  BoundedStore(target, s.View());
}

}  // namespace velk
