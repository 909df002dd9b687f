#include "runtime/arguments.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velk {
namespace {

using namespace std::string_view_literals;
using Words = std::vector<std::string>;

TEST(SplitCommandLineTest, CutsWordsAtBlanksAndGroupsByQuotes) {
  struct Case {
    std::string_view raw;
    Words expected;
  };
  const std::string long_word(300, 'w');
  const std::string long_line = "prog " + long_word;
  const Case cases[] = {
      {"prog a b", {"prog", "a", "b"}},
      {"prog", {"prog"}},
      {"", {}},
      {" \t\r\n ", {}},
      {"\"my prog\" x", {"my prog", "x"}},
      {" \t prog \t a\t\t b ", {"prog", "a", "b"}},
      {"prog a\"b c\"d", {"prog", "ab cd"}},
      {"prog \"it's\"", {"prog", "it's"}},
      {"prog 'say \"hi\"'", {"prog", "say \"hi\""}},
      {"prog a\"\"b", {"prog", "ab"}},
      {"prog \"\"", {"prog", ""}},
      {"prog '' x", {"prog", "", "x"}},
      {"prog \"a b  ", {"prog", "a b  "}},
      {"prog C:\\dir\\\"x y\"", {"prog", "C:\\dir\\x y"}},
      {"\"C:\\x.exe a b", {"C:\\x.exe a b"}},
      {"prog \"a\"\"b c\"", {"prog", "ab c"}},
      {"prog 'a''b c'", {"prog", "ab c"}},
      {"prog \"a\tb\001c\037\r\n d\"", {"prog", "a\tb\001c\037\r\n d"}},
      {"prog a\001b\037c\177", {"prog", "a", "b", "c\177"}},
      {"prog \xff\x80 \\", {"prog", "\xff\x80", "\\"}},
      {long_line, {"prog", long_word}},
      {"prog a\0b c"sv, {"prog", "a"}},
      {"prog \"a\0b\" c"sv, {"prog", "a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("raw \"" + std::string(c.raw) + "\"");
    EXPECT_EQ(SplitCommandLine(c.raw), c.expected);
  }
}

std::string OwnExecutable() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

TEST(ArgumentListTest, EntriesAreTheArgumentsAsDeliveredAfterTheExecutablePath) {
  std::string name = "fake-program-name";
  std::string a = "a";
  std::string empty;
  std::string option = "-D";
  std::string long_word(300, 'w');
  char* argv[] = {name.data(), a.data(), empty.data(), option.data(), long_word.data(), nullptr};
  BuildArgumentList(5, argv);
  ASSERT_EQ(ArgumentCount(), 4);
  const std::string exe = OwnExecutable();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(ArgumentAt(0), exe);
  EXPECT_EQ(ArgumentAt(1), "a");
  EXPECT_EQ(ArgumentAt(2), "");
  EXPECT_EQ(ArgumentAt(3), "-D");
  EXPECT_EQ(ArgumentAt(4), long_word);
  EXPECT_EQ(ArgumentAt(5), "");
  EXPECT_EQ(ArgumentAt(-1), "");
  EXPECT_EQ(ArgumentAt(INT32_MIN), "");
  EXPECT_EQ(ArgumentAt(INT32_MAX), "");
}

TEST(ArgumentListTest, ProgramNameAloneAndNoWordAtAll) {
  std::string name = "prog";
  char* argv[] = {name.data(), nullptr};
  BuildArgumentList(1, argv);
  EXPECT_EQ(ArgumentCount(), 0);
  EXPECT_EQ(ArgumentAt(0), OwnExecutable());
  EXPECT_EQ(ArgumentAt(1), "");

  BuildArgumentList(0, argv + 1);
  EXPECT_EQ(ArgumentCount(), -1);
  EXPECT_EQ(ArgumentAt(0), "");
  EXPECT_EQ(ArgumentAt(-1), "");
}

}  // namespace
}  // namespace velk
