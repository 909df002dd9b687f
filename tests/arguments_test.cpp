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
      {"prog \"a\x01\tb\0c\" d"sv, {"prog", "a\x01\tb"}}};
  for (const auto& [raw, words] : cases) {
    EXPECT_EQ(velk::SplitCommandLine(raw), words) << "raw: " << raw;
  }
}
