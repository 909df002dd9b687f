#include "runtime/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace std::string_view_literals;

TEST(SplitCommandLineTest, CutsWordsAtBlanksAndGroupsByQuotes) {
  const std::pair<std::string_view, std::vector<std::string>> cases[] = {
      {"prog a b", {"prog", "a", "b"}},
      {"", {}},
      {"\"my prog\" x", {"my prog", "x"}},
      {" \t prog \t a\t\t b ", {"prog", "a", "b"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog \"it's\"", {"prog", "it's"}},
      {"prog 'say \"hi\"'", {"prog", "say \"hi\""}},
      {"prog a\"\"b", {"prog", "ab"}},
      {"prog \"\"", {"prog", ""}},
      {"prog \"a b  ", {"prog", "a b  "}},
      {"prog C:\\dir\\\"x y\"", {"prog", "C:\\dir\\x y"}},
      {"\"C:\\x.exe a b", {"C:\\x.exe a b"}},
      {"prog \"a\x01\tb\0c\" d"sv, {"prog", "a\x01\tb"}},
      {"prog\001a\037\013b\r\nc!d\177e "sv, {"prog", "a", "b", "c!d\177e"}},
      {"prog '\x1f\r\n \x02'"sv, {"prog", "\x1f\r\n \x02"}}};
  for (const auto& [raw, words] : cases) {
    const velk::CountedList split = velk::SplitCommandLine(raw);
    EXPECT_EQ(std::vector<std::string>(split.begin(), split.end()), words) << "raw: " << raw;
  }
}
