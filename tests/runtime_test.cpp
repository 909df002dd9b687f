// The runtime's pure parts by table, and its text channels on real files.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "harness.h"
#include "runtime/arguments.h"
#include "runtime/bounded_string.h"
#include "runtime/text_file.h"

namespace velk {
namespace {

using namespace std::literals;
using namespace velk::testing;

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
    EXPECT_EQ(SplitCommandLine(raw), words) << "raw: " << raw;
  }
}

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

#ifdef _WIN32
constexpr std::uint16_t ReadersShare = 5;  // share mode 0: no other opener at all
#else
constexpr std::uint16_t ReadersShare = 0;
#endif

// Binds and opens `file`; gives the code of the open (0: open).
std::uint16_t Open(TextFile& file, const std::string& path, FileState mode) {
  BindTextFile(file, path);
  mode == FileState::Reading ? OpenForReading(file) : OpenForWriting(file);
  return TakeIoError();
}

// Three channels, closed again after each test.
class TextFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (TextFile* file : {&f, &g, &h}) {
      TakeIoError();
      CloseTextFile(*file);  // on a channel that is not open it only sets a code
    }
    TakeIoError();
  }
  TempDir dir;
  TextFile f{}, g{}, h{};
};

TEST_F(TextFileTest, FieldsAreRightAlignedAndNeverCut) {
  ASSERT_EQ(Open(f, dir.path + "\\out.txt", FileState::Writing), 0);
  EXPECT_STREQ(f.Path, (dir.path + "\\out.txt").c_str());  // kept as typed
  WriteText(f, "abc", 5), WriteText(f, "abc", 2), WriteText(f, "abc", 0), WriteInteger(f, 200, 0);
  WriteInteger(f, -7, 4), WriteInteger(f, INT32_MIN, 0), EndLine(f), EndWrite(f);
  CloseTextFile(f);
  EXPECT_EQ(TakeIoError(), 0);
  EXPECT_EQ(ReadFile(dir.Join("out.txt")), "  abcabcabc200  -7-2147483648\r\n");
}

TEST_F(TextFileTest, WrongStateSetsItsCode) {
  WriteFile(dir.Join("in.txt"), "");
  ASSERT_EQ(Open(f, dir.Join("in.txt"), FileState::Reading), 0);
  ASSERT_EQ(Open(g, dir.Join("out.txt"), FileState::Writing), 0);
  const auto read = [](TextFile& t) {
    char chars[255];
    EXPECT_EQ(ReadLineInto(t, chars, 255), 0);
  };
  const auto at_end = [](TextFile& t) { EXPECT_TRUE(AtEndOfFile(t)); };
  const auto write = [](TextFile& t) { WriteText(t, "w", 0); };
  const std::tuple<TextFile*, void (*)(TextFile&), std::uint16_t> cases[] = {
      {&h, OpenForReading, 102}, {&g, read, 104},        {&g, at_end, 104},        {&f, write, 105},
      {&f, EndLine, 105},        {&f, CloseTextFile, 0}, {&f, CloseTextFile, 103}, {&f, read, 103}};
  for (const auto& [file, operation, code] : cases) {
    SCOPED_TRACE(code);
    operation(*file);
    EXPECT_EQ(TakeIoError(), code);
  }
}

TEST_F(TextFileTest, FailedOpensLeaveTheChannelClosedWithTheirCode) {
  const FileState r = FileState::Reading, w = FileState::Writing;
  const std::tuple<std::string, FileState, std::uint16_t> cases[] = {
      {dir.Join("nosuch.txt"), r, 2},
      {dir.Join("nodir/in.txt"), r, 3},
      {dir.path, r, 5},
      {dir.path, w, 5},
      {"/velk-no-such-file", r, 2},
      {"/velk-no-such-directory/file", r, 3}};
  for (const auto& [name, mode, code] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(f, name, mode), code);
    EXPECT_EQ(TakeIoError(), 0);
    EXPECT_TRUE(f.State == FileState::Closed && f.SystemHandle == NoHandle);
  }
}

TEST_F(TextFileTest, AFileOpenOnOneChannelIsRefusedToAnotherAndKeptWhole) {
  const std::string input = dir.Join("in.txt");
  WriteFile(input, "keep\r\n");
  ASSERT_EQ(Open(f, input, FileState::Reading), 0);
  EXPECT_EQ(Open(h, input, FileState::Reading), ReadersShare);
  EXPECT_EQ(Open(g, input, FileState::Writing), 5);
  CloseTextFile(f);
  CloseTextFile(h);
  EXPECT_EQ(ReadFile(input), "keep\r\n");
  EXPECT_EQ(Open(g, input, FileState::Writing), 0);
  EXPECT_EQ(Open(f, input, FileState::Reading), 5);
}

TEST(TextFileErrorTest, TranslateSystemError) {
  const std::uint32_t cases[][2] = {
      {0, 0},   {2, 2},     {18, 18},   {19, 150},       {31, 162},           {32, 5},
      {33, 33}, {112, 112}, {232, 232}, {0x10013, 0x13}, {0xFFFFFFFF, 0xFFFF}};
  for (const auto& c : cases) {
    EXPECT_EQ(TranslateSystemError(c[0]), c[1]) << c[0];
  }
}

}  // namespace
}  // namespace velk
