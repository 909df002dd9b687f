#include "runtime/bounded_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

using namespace std::literals;

// Each text followed by "|", so that many results are compared in one go.
template <typename... Texts>
static std::string Joined(const Texts&... texts) {
  return ((std::string(texts.View()) + "|") + ... + std::string());
}

TEST(BoundedStringTest, TextsAreClampedAndCutToTheirCapacity) {
  BoundedString<4> text("PASCAL");
  const BoundedString<4> copy = text;
  BoundedStore(text, "a\0\xff"sv);
  BoundedStore(text, text.View().substr(1));
  EXPECT_EQ(Joined(copy, text), "PASC|\0\xff|"s);
  EXPECT_EQ(
      Joined(BoundedSubstring("abcdef", 1, 0), BoundedSubstring("abcdef", -5, 3),
             BoundedSubstring("abcdef", 5, 10), BoundedSubstring("abcdef", 7, 1),
             BoundedSubstring("abcdef", 2, -1), BoundedSubstring("abcdef", 2, 3),
             BoundedSubstring("abc", INT32_MIN, INT32_MAX), BoundedSubstring("abc", INT32_MAX, 9),
             BoundedSubstring("a\0\x80\xff"sv, 2, 2), BoundedJoin("a\0"sv, "\xff")),
      "|abc|ef|||bcd|abc||\0\x80|a\0\xff|"s);
  EXPECT_EQ(BoundedJoin(std::string(250, 'a'), "abcdefgh").View(), std::string(250, 'a') + "abcde");
  EXPECT_EQ(
      Joined(DecimalText(0), DecimalText(-10), DecimalText(INT32_MAX), DecimalText(INT32_MIN)),
      "0|-10|2147483647|-2147483648|");
  EXPECT_EQ(Joined(HexText(255, 8), HexText(0x12345, 4), HexText(7, 0), HexText(0xABCDEF09u, 8),
                   AddressText(4096), AddressText(0xDEADBEEFu)),
            "000000FF|2345||ABCDEF09|  0x00001000|  0xDEADBEEF|");
  EXPECT_EQ(HexText(1, 300).View(), std::string(254, '0') + "1");
}

TEST(BoundedStringTest, SearchesGiveOneBasedPositionsAndEqualsComparesEveryByte) {
  const std::vector<std::int32_t> found(
      {BoundedFind("cd", "abcdcd"), BoundedFind("", "abc"), BoundedFind("abcd", "abc"),
       BoundedFind("abc", "abc"), BoundedFind("B", "abc"), BoundedFind("\0b"sv, "a\0b"sv),
       BoundedFind("\xff", "a\xfe\xff"), BoundedFindChar('.', "a.b.c"), BoundedFindChar('.', ""),
       BoundedFindChar('\0', "ab\0"sv), BoundedFindChar('\x80', "a\x7f\x80")});
  EXPECT_EQ(found, (std::vector<std::int32_t>{3, 0, 0, 1, 0, 2, 3, 2, 0, 3, 3}));
  const std::vector<bool> equal({BoundedEquals("A", "a"), BoundedEquals("", ""),
                                 BoundedEquals("a\0\xff"sv, "a\0\xff"sv),
                                 BoundedEquals("a"sv, "a\0"sv), BoundedEquals("a\0b"sv, "a\0c"sv)});
  EXPECT_EQ(equal, (std::vector<bool>{false, true, true, false, false}));
}

}  // namespace velk
