#include "runtime/counted_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velk {

using namespace std::literals;

TEST(CountedStringTest, ResultsAreClampedAndBytesCompareUnsigned) {
  const std::vector<CountedString> parts(
      {CountedSubstring("-Dfoo", 1, 2), CountedSubstring("-", 1, 2), CountedSubstring("", 1, 2),
       CountedSubstring("abc", -3, 2), CountedSubstring("abc", 3, 5), CountedSubstring("abc", 4, 1),
       CountedSubstring("abc", 2, 0), CountedSubstring("abc", 2, -1),
       CountedSubstring("abc", INT32_MAX, INT32_MAX), CountedSubstring("abc", 1, INT32_MAX),
       CountedSubstring("a\0\x80"s, 2, 2)});
  EXPECT_EQ(parts, (std::vector<CountedString>{"-D", "-", "", "ab", "c", "", "", "", "", "abc",
                                               "\0\x80"s}));
  const std::vector<std::int32_t> results(
      {CountedLength("a\0\xff"s), CountedLength(""), CountedCompare("-D", "-d"),
       CountedCompare("", ""), CountedCompare("ab", "abc"), CountedCompare("a\0"s, "a"),
       CountedCompare("\x80", "a"), CountedCompare("a\0b"s, "a\0c"s),
       CountedCompare("x\x90", "x\x10")});
  EXPECT_EQ(results, (std::vector<std::int32_t>{3, 0, 'D' - 'd', 0, -1, 1, 0x80 - 'a', -1, 0x80}));
  BoundedString<40> name("old contents");
  CountedToBounded(std::string(40, 'q') + std::string(260, 'r'), name);
  EXPECT_EQ(name.View(), std::string(40, 'q'));
  CountedToBounded("a\0\xff"s, name);
  EXPECT_EQ(name.View(), "a\0\xff"sv);
}

}  // namespace velk
