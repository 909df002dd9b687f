#include "runtime/text_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "channel_test.h"
#include "test_support.h"

namespace velk {
namespace {

using namespace velk::testing;

std::string ReadFrom(TextFile& file, std::int32_t capacity = 255) {
  char chars[255];
  return std::string(chars, static_cast<std::size_t>(ReadLineInto(file, chars, capacity)));
}

using TextFileTest = ChannelTest;

TEST_F(TextFileTest, ReadsLinesAsTheLineLoopDoes) {
  const std::string l(300, 'l');
  // A line that ends 100 bytes before the first refill of a named file's buffer.
  const std::string to_near_refill(FileBufferSize - 101, 'f');
  const std::tuple<std::string, std::int32_t, std::vector<std::string>> cases[] = {
      {l + "\r\nabcd\r\nnext\r\n", 4, {"llll", "abcd", "next"}},
      {"A\n\rB\r\r\n", 255, {"A", "", "B", ""}},
      {"x\x1az\n\x1aw\n", 255, {"x\x1az"}},
      {to_near_refill + "\n" + l + "\nc", 255, {to_near_refill.substr(0, 255),
                                                 l.substr(0, 255), "c"}}};
  for (const auto& [bytes, capacity, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    WriteFileBytes(dir.Join("in.txt"), bytes);
    ASSERT_EQ(Open(f, dir.Join("in.txt"), FileState::Reading), 0);
    std::vector<std::string> lines;
    do {
      lines.push_back(ReadFrom(f, capacity));
      EXPECT_EQ(IoErrorCode, 0);
    } while (!AtEndOfFile(f) && lines.size() < 10);
    EXPECT_EQ(lines, expected);
    CloseTextFile(f);
  }
}

TEST_F(TextFileTest, NamedFileTakesFieldsAndHandsOverOnlyWhenItsBufferOverflows) {
  const std::string fields = "  abcabcabc200  -7-2147483648\r\n";
  const std::int32_t padding = FileBufferSize - static_cast<std::int32_t>(fields.size());
  const std::string first = fields + std::string(static_cast<std::size_t>(padding), ' ');
  ASSERT_EQ(Open(f, dir.path() + "\\out.txt", FileState::Writing), 0);
  EXPECT_STREQ(f.Path, (dir.path() + "\\out.txt").c_str());  // kept as typed
  WriteText(f, "abc", 5), WriteText(f, "abc", 2), WriteText(f, "abc", 0), WriteInteger(f, 200, 0);
  WriteInteger(f, -7, 4), WriteInteger(f, INT32_MIN, 0), EndLine(f), WriteText(f, "", padding);
  EndWrite(f);
  // Sizes only while the channel holds the file: it shares it with no reader.
  const auto size = [&] { return std::filesystem::file_size(dir.Join("out.txt")); };
  EXPECT_EQ(size(), 0u);
  WriteText(f, "z", 0);
  EXPECT_EQ(size(), first.size());
  CloseTextFile(f);
  EXPECT_EQ(TakeIoError(), 0);
  EXPECT_EQ(ReadFileBytes(dir.Join("out.txt")), first + "z");
}

TEST_F(TextFileTest, WrongStateSetsItsCode) {
  WriteFileBytes(dir.Join("in.txt"), "");
  ASSERT_EQ(Open(f, dir.Join("in.txt"), FileState::Reading), 0);
  ASSERT_EQ(Open(g, dir.Join("out.txt"), FileState::Writing), 0);
  const auto read = [](TextFile& t) { EXPECT_EQ(ReadFrom(t), ""); };
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
  const std::tuple<const char*, FileState, std::uint16_t> cases[] = {
      {"nosuch.txt", r, 2}, {"nodir/in.txt", r, 3}, {".", r, 5}, {".", w, 5}};
  for (const auto& [name, mode, code] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(f, dir.Join(name), mode), code);
    EXPECT_EQ(TakeIoError(), 0);
    EXPECT_TRUE(f.State == FileState::Closed && f.SystemHandle == NoHandle);
  }
}

TEST_F(TextFileTest, AFileOpenOnOneChannelIsRefusedToAnotherAndKeptWhole) {
  const std::string input = dir.Join("in.txt");
  WriteFileBytes(input, "keep\r\n");
  ASSERT_EQ(Open(f, input, FileState::Reading), 0);
  EXPECT_EQ(Open(g, input, FileState::Writing), 5);
  CloseTextFile(f);
  EXPECT_EQ(ReadFileBytes(input), "keep\r\n");
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
