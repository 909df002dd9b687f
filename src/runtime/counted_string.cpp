#include "runtime/counted_string.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace velk {

CountedString::CountedString(std::string_view text) {
  Reserve(text.size());
  if (!text.empty()) {
    std::memcpy(chars_, text.data(), text.size());
  }
  length_ = text.size();
}

CountedString::CountedString(CountedString&& other) noexcept
    : chars_(std::exchange(other.chars_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

CountedString& CountedString::operator=(const CountedString& other) {
  if (this != &other) {
    *this = CountedString(other);
  }
  return *this;
}

CountedString& CountedString::operator=(CountedString&& other) noexcept {
  std::swap(chars_, other.chars_);
  std::swap(length_, other.length_);
  std::swap(capacity_, other.capacity_);
  return *this;
}

CountedString::~CountedString() { delete[] chars_; }

void CountedString::Reserve(std::size_t capacity) {
  if (capacity <= capacity_) {
    return;
  }
  char* chars = new char[capacity];
  if (length_ != 0) {
    std::memcpy(chars, chars_, length_);
  }
  delete[] chars_;
  chars_ = chars;
  capacity_ = capacity;
}

void CountedString::Append(char c) {
  if (length_ == capacity_) {
    Reserve(std::max<std::size_t>(16, 2 * capacity_));
  }
  chars_[length_++] = c;
}

CountedList::CountedList(CountedList&& other) noexcept
    : items_(std::exchange(other.items_, nullptr)),
      count_(std::exchange(other.count_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

CountedList& CountedList::operator=(CountedList&& other) noexcept {
  std::swap(items_, other.items_);
  std::swap(count_, other.count_);
  std::swap(capacity_, other.capacity_);
  return *this;
}

CountedList::~CountedList() { delete[] items_; }

void CountedList::Add(CountedString text) {
  if (count_ == capacity_) {
    const std::size_t capacity = std::max<std::size_t>(8, 2 * capacity_);
    auto* items = new CountedString[capacity];
    std::move(items_, items_ + count_, items);
    delete[] items_;
    items_ = items;
    capacity_ = capacity;
  }
  items_[count_++] = std::move(text);
}

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
  return CountedString(std::string_view(s.data() + offset, static_cast<std::size_t>(wanted)));
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
