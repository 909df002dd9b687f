#include "runtime/bounded_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace velk {
namespace {

using namespace std::string_view_literals;

constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

TEST(BoundedStringTest, StoreKeepsTheFirstCapacityCharacters) {
  const std::string text = std::string(40, 'n') + "tail";
  BoundedString<40> name(text);
  EXPECT_EQ(name.View(), text.substr(0, 40));
  BoundedStore(name, "");
  EXPECT_TRUE(name.empty());
  BoundedString<4> extension;
  BoundedStore(extension, "PASCAL");
  EXPECT_EQ(extension.View(), "PASC");
}

TEST(BoundedStringTest, StoringAViewWithoutStorageGivesTheEmptyString) {
  BoundedString<40> name("old");
  BoundedStore(name, std::string_view());
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(BoundedJoin("a", std::string_view()).View(), "a");
}

TEST(BoundedStringTest, CopiesAreIndependentAndStoringAPieceOfItselfWorks) {
  Line original("first");
  const Line copy = original;
  BoundedStore(original, "second");
  EXPECT_EQ(copy.View(), "first");
  BoundedStore(original, original.View().substr(3));
  EXPECT_EQ(original.View(), "ond");
}

TEST(BoundedStringTest, SubstringClampsIndexAndCount) {
  struct Case {
    std::string_view s;
    std::int32_t index, count;
    std::string_view expected;
  };
  const Case cases[] = {
      {"abcdef", 1, 0, ""},         {"abcdef", 0, 3, "abc"},
      {"abcdef", -5, 3, "abc"},     {"abcdef", 5, 10, "ef"},
      {"abcdef", 7, 1, ""},         {"abcdef", 2, -1, ""},
      {"abcdef", 2, 3, "bcd"},      {"abcdef", 6, 1, "f"},
      {"abcdef", 8, 1, ""},         {"abcdef", Min32, Max32, "abcdef"},
      {"abcdef", Max32, Max32, ""}, {"", 1, 5, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.s << " at " << c.index << " for " << c.count);
    EXPECT_EQ(BoundedSubstring(c.s, c.index, c.count).View(), c.expected);
  }
  EXPECT_EQ(BoundedSubstring("a\0\x80\xff"sv, 2, 2).View(), "\0\x80"sv);
}

TEST(BoundedStringTest, FindGivesOneBasedPositionOrZero) {
  struct Case {
    std::string_view needle, s;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"", "abc", 0},  {"cd", "abcdcd", 3}, {"abcd", "abc", 0},     {"abc", "abc", 1},
      {"a", "", 0},    {"c", "abc", 3},     {"\0b"sv, "a\0b"sv, 2}, {"\xff", "a\xfe\xff", 3},
      {"B", "abc", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.needle << "' in '" << c.s << "'");
    EXPECT_EQ(BoundedFind(c.needle, c.s), c.expected);
  }
  EXPECT_EQ(BoundedFindChar('.', "a.b.c"), 2);
  EXPECT_EQ(BoundedFindChar('.', "abc"), 0);
  EXPECT_EQ(BoundedFindChar('.', ""), 0);
  EXPECT_EQ(BoundedFindChar('\0', "ab\0"sv), 3);
  EXPECT_EQ(BoundedFindChar('\x80', "a\x7f\x80"), 3);
}

TEST(BoundedStringTest, JoinIsCutAt255) {
  const std::string a(250, 'a');
  const Line joined = BoundedJoin(a, "abcdefgh");
  EXPECT_EQ(joined.size(), 255u);
  EXPECT_EQ(joined.View(), a + "abcde");
  EXPECT_EQ(BoundedJoin(std::string(255, 'x'), "y").View(), std::string(255, 'x'));
  EXPECT_EQ(BoundedJoin("", "").size(), 0u);
  EXPECT_EQ(BoundedJoin(BoundedJoin("a\0"sv, "b"), "c").View(), "a\0bc"sv);
}

TEST(BoundedStringTest, EqualsComparesLengthAndBytes) {
  EXPECT_FALSE(BoundedEquals("A", "a"));
  EXPECT_TRUE(BoundedEquals("", ""));
  EXPECT_FALSE(BoundedEquals("ab", "abc"));
  EXPECT_TRUE(BoundedEquals("a\0\xff"sv, "a\0\xff"sv));
  EXPECT_FALSE(BoundedEquals("a\0b"sv, "a\0c"sv));
  EXPECT_FALSE(BoundedEquals("a"sv, "a\0"sv));
}

TEST(BoundedStringTest, DecimalText) {
  EXPECT_EQ(DecimalText(0).View(), "0");
  EXPECT_EQ(DecimalText(200).View(), "200");
  EXPECT_EQ(DecimalText(-1).View(), "-1");
  EXPECT_EQ(DecimalText(-10).View(), "-10");
  EXPECT_EQ(DecimalText(Max32).View(), "2147483647");
  EXPECT_EQ(DecimalText(Min32).View(), "-2147483648");
  EXPECT_EQ(DecimalText(Min32 + 1).View(), "-2147483647");
}

TEST(BoundedStringTest, HexTextAndAddressText) {
  EXPECT_EQ(HexText(255, 8).View(), "000000FF");
  EXPECT_EQ(HexText(0x12345, 4).View(), "2345");
  EXPECT_EQ(HexText(0xABCDEF09u, 8).View(), "ABCDEF09");
  EXPECT_EQ(HexText(0xFFFFFFFFu, 10).View(), "00FFFFFFFF");
  EXPECT_EQ(HexText(7, 0).View(), "");
  EXPECT_EQ(HexText(1, 255).View(), std::string(254, '0') + "1");
  EXPECT_EQ(HexText(1, 300).size(), 255u);
  EXPECT_EQ(AddressText(4096).View(), "  0x00001000");
  EXPECT_EQ(AddressText(0xDEADBEEFu).View(), "  0xDEADBEEF");
}

}  // namespace
}  // namespace velk
