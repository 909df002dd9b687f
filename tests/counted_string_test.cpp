#include "runtime/counted_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace velk {
namespace {

using namespace std::string_view_literals;

TEST(CountedStringTest, LengthCountsEveryByte) {
  EXPECT_EQ(CountedLength(""), 0);
  EXPECT_EQ(CountedLength("-Dfoo"), 5);
  EXPECT_EQ(CountedLength(CountedString("a\0\xff"sv)), 3);
}

TEST(CountedStringTest, SubstringClampsToTheString) {
  constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();
  struct Case {
    std::string_view s;
    std::int32_t index, count;
    std::string_view expected;
  };
  const Case cases[] = {
      {"-Dfoo", 1, 2, "-D"},    {"-", 1, 2, "-"},
      {"", 1, 2, ""},           {"abcdef", 2, 3, "bcd"},
      {"abc", 0, 2, "ab"},      {"abc", -3, 2, "ab"},
      {"abc", 3, 5, "c"},       {"abc", 4, 1, ""},
      {"abc", 9, 1, ""},        {"abc", 2, 0, ""},
      {"abc", 2, -1, ""},       {"abc", Max32, Max32, ""},
      {"abc", 1, Max32, "abc"}, {"a\0\x80"sv, 2, 2, "\0\x80"sv},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.s << " at " << c.index << " for " << c.count);
    EXPECT_EQ(CountedSubstring(CountedString(c.s), c.index, c.count), c.expected);
  }
}

TEST(CountedStringTest, CompareOrdersUnsignedBytesThenLengths) {
  struct Case {
    std::string_view a, b;
    int sign;  // of the result
  };
  const Case cases[] = {
      {"-D", "-d", -1},  {"-d", "-D", 1},          {"-D", "-D", 0},     {"", "", 0},
      {"ab", "abc", -1}, {"abc", "ab", 1},         {"", "a", -1},       {"\x80", "a", 1},
      {"a\0"sv, "a", 1}, {"a\0b"sv, "a\0c"sv, -1}, {"\xff", "\xfe", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.a << "' vs '" << c.b << "'");
    const std::int32_t result = CountedCompare(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
  }
  EXPECT_EQ(CountedCompare("-D", "-d"), 'D' - 'd');
  EXPECT_EQ(CountedCompare("x\x90", "x\x10"), 0x80);
}

TEST(CountedStringTest, ToBoundedKeepsAtMostTheCapacity) {
  const CountedString argument = std::string(260, 'q') + std::string(40, 'r');
  BoundedString<40> name("old contents");
  CountedToBounded(argument, name);
  EXPECT_EQ(name.View(), std::string(40, 'q'));
  CountedToBounded(CountedString(), name);
  EXPECT_TRUE(name.empty());
  BoundedString<4> extension;
  CountedToBounded(CountedString("text"), extension);
  EXPECT_EQ(extension.View(), "text");
  CountedToBounded(CountedString("a\0\xff\x01z"sv), extension);
  EXPECT_EQ(extension.View(), "a\0\xff\x01"sv);
}

}  // namespace
}  // namespace velk
