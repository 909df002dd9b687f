#include "runtime/text_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

namespace velk {
namespace {

using velk::testing::FileExists;
using velk::testing::ReadFileBytes;
using velk::testing::WriteFileBytes;

constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

long FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

bool IsOpenDescriptor(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

bool SameRecord(const TextFile& a, const TextFile& b) {
  return std::memcmp(&a, &b, sizeof(TextFile)) == 0;
}

std::string ReadFrom(TextFile& file, std::int32_t capacity = 255) {
  char chars[255];
  return std::string(chars, static_cast<std::size_t>(ReadLineInto(file, chars, capacity)));
}

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeIoError(); }
  void TearDown() override {
    for (TextFile* file : {&f, &g}) {
      TakeIoError();
      if (file->State == FileState::Reading || file->State == FileState::Writing) {
        CloseTextFile(*file);
      }
    }
    TakeIoError();
  }

  void Open(TextFile& file, const std::string& path, FileState mode) {
    BindTextFile(file, path);
    mode == FileState::Reading ? OpenForReading(file) : OpenForWriting(file);
    EXPECT_EQ(TakeIoError(), 0) << path;
    EXPECT_EQ(file.State, mode);
  }

  std::vector<std::string> ReadAllLines(const std::string& bytes, std::int32_t capacity) {
    WriteFileBytes(dir.Join("in.txt"), bytes);
    Open(f, dir.Join("in.txt"), FileState::Reading);
    std::vector<std::string> lines;
    while (!AtEndOfFile(f) && lines.size() < 100) {
      lines.push_back(ReadFrom(f, capacity));
      EXPECT_EQ(IoErrorCode, 0);
    }
    CloseTextFile(f);
    return lines;
  }

  velk::testing::ScopedTempDir dir;
  TextFile f{};
  TextFile g{};
};

using TextFileReadTest = TextFileTest;
using TextFileWriteTest = TextFileTest;
using TextFileOpenTest = TextFileTest;
using TextFileStateTest = TextFileTest;

TEST_F(TextFileReadTest, LinesAndLineEnds) {
  struct Case {
    const char* name;
    std::string bytes;
    std::int32_t capacity;
    std::vector<std::string> lines;
  };
  const std::string b249(249, 'b'), x199(199, 'x'), l300(300, 'l'), z = "\x1a";
  const std::string data = "a" + z + "b" + std::string(1, '\0') + "c";
  const Case cases[] = {
      {"long line skipped", "abcdefgh\r\nnext\n", 4, {"abcd", "next"}},
      {"exactly N then CR LF", "abcd\r\nnext", 4, {"abcd", "next"}},
      {"capacity 1", "xy\nz\rw", 1, {"x", "z", "w"}},
      {"A LF CR B CR CR LF", "A\n\rB\r\r\n", 255, {"A", "", "B", ""}},
      {"CR ends a fill", "short\n" + b249 + "\r\nlast", 255, {"short", b249, "last"}},
      {"line across a fill", x199 + "\n" + b249, 255, {x199, b249}},
      {"long line across fills", l300 + "\r\nafter", 255, {l300.substr(0, 255), "after"}},
      {"last line without a line end", "one\ntwo", 255, {"one", "two"}},
      {"last line with a line end", "one\r\ntwo\r\n", 255, {"one", "two"}},
      {"empty file", "", 255, {}},
      {"byte 26 at a line start", "a\n" + z + "b\n", 255, {"a"}},
      {"byte 26 first", z + "rest\n", 255, {}},
      {"bytes 26 and 0 inside a line", data + "\nz", 255, {data, "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadAllLines(c.bytes, c.capacity), c.lines);
  }
}

TEST_F(TextFileReadTest, EmptyFileGivesOneEmptyLineThenTheEnd) {
  WriteFileBytes(dir.Join("empty.txt"), "");
  Open(f, dir.Join("empty.txt"), FileState::Reading);
  Line target("junk");
  ReadLine(f, target);
  EXPECT_TRUE(target.empty());
  EXPECT_EQ(IoErrorCode, 0);
  EXPECT_TRUE(AtEndOfFile(f));
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(TextFileReadTest, Byte26AtLineStartIsTheEndAlthoughBytesFollow) {
  const std::string z = "\x1a";
  WriteFileBytes(dir.Join("in.txt"), "a\n" + z + "b\nc");
  Open(f, dir.Join("in.txt"), FileState::Reading);
  EXPECT_EQ(ReadFrom(f), "a");
  EXPECT_TRUE(AtEndOfFile(f));
  EXPECT_TRUE(AtEndOfFile(f));
  EXPECT_EQ(ReadFrom(f), z + "b");
  EXPECT_FALSE(AtEndOfFile(f));
  EXPECT_EQ(ReadFrom(f), "c");
  EXPECT_TRUE(AtEndOfFile(f));
  EXPECT_EQ(IoErrorCode, 0);
}

TEST_F(TextFileWriteTest, WidthsAndLineEnds) {
  struct Case {
    const char* name;
    void (*write)(TextFile&);
    std::string bytes;
  };
  const Case cases[] = {
      {"text, wider field", [](TextFile& t) { WriteText(t, "abc", 5); }, "  abc"},
      {"text, narrower field", [](TextFile& t) { WriteText(t, "abc", 2); }, "abc"},
      {"text, width 0", [](TextFile& t) { WriteText(t, "abc", 0); }, "abc"},
      {"text, negative width", [](TextFile& t) { WriteText(t, "abc", -9); }, "abc"},
      {"field across the buffer", [](TextFile& t) { WriteText(t, "z", 300); },
       std::string(299, ' ') + "z"},
      {"text across buffers", [](TextFile& t) { WriteText(t, std::string(600, 'm'), 0); },
       std::string(600, 'm')},
      {"200", [](TextFile& t) { WriteInteger(t, 200, 0); }, "200"},
      {"0", [](TextFile& t) { WriteInteger(t, 0, 0); }, "0"},
      {"-7 width 4", [](TextFile& t) { WriteInteger(t, -7, 4); }, "  -7"},
      {"smallest", [](TextFile& t) { WriteInteger(t, Min32, 0); }, "-2147483648"},
      {"largest width 11", [](TextFile& t) { WriteInteger(t, Max32, 11); }, " 2147483647"},
      {"line end", [](TextFile& t) { EndLine(t); }, "\r\n"},
      {"statement", [](TextFile& t) { WriteText(t, "n=", 0), WriteInteger(t, 42, 3), EndLine(t); },
       "n= 42\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(f, dir.Join("out.txt"), FileState::Writing);
    c.write(f);
    CloseTextFile(f);
    EXPECT_EQ(TakeIoError(), 0);
    EXPECT_EQ(ReadFileBytes(dir.Join("out.txt")), c.bytes);
  }
}

TEST_F(TextFileWriteTest, NamedFileHandsOverWholeBuffersOnly) {
  const std::string path = dir.Join("out.txt");
  WriteFileBytes(path, std::string(1000, 'o'));
  Open(f, path, FileState::Writing);
  EXPECT_FALSE(f.WriteThrough);
  EXPECT_EQ(FileSize(path), 0);
  WriteText(f, std::string(200, 'a'), 0);
  WriteText(f, std::string(56, 'b'), 0);
  EndWrite(f);
  EXPECT_EQ(FileSize(path), 0);
  WriteText(f, "c", 0);
  EXPECT_EQ(FileSize(path), 256);
  EndLine(f);
  EXPECT_EQ(FileSize(path), 256);
  const int fd = f.SystemHandle;
  CloseTextFile(f);
  EXPECT_EQ(TakeIoError(), 0);
  EXPECT_EQ(ReadFileBytes(path), std::string(200, 'a') + std::string(56, 'b') + "c\r\n");
  EXPECT_EQ(f.SystemHandle, NoHandle);
  EXPECT_FALSE(IsOpenDescriptor(fd));
}

TEST_F(TextFileWriteTest, WrittenThroughChannelHandsOverAtEveryStatementEnd) {
  const std::string path = dir.Join("console.txt");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  ASSERT_GE(fd, 0);
  BindToHandle(f, FileState::Writing, fd);
  EXPECT_TRUE(f.WriteThrough);
  EXPECT_EQ(f.State, FileState::Writing);
  WriteText(f, "Name? ", 0);
  EXPECT_EQ(FileSize(path), 0);
  EndWrite(f);
  EXPECT_EQ(ReadFileBytes(path), "Name? ");
  WriteInteger(f, 7, 0);
  EndLine(f);
  EXPECT_EQ(ReadFileBytes(path), "Name? 7\r\n");
  CloseTextFile(f);
  EXPECT_EQ(TakeIoError(), 0);
  EXPECT_FALSE(IsOpenDescriptor(fd));
  BindToHandle(g, FileState::Reading, 0);
  EXPECT_FALSE(g.WriteThrough);
  BindTextFile(g, "");
}

TEST_F(TextFileWriteTest, FullDeviceReportsDiskFullAndIsReleasedAtClose) {
  Open(f, "/dev/full", FileState::Writing);
  EXPECT_TRUE(f.WriteThrough);
  WriteText(f, "x", 0);
  EXPECT_EQ(IoErrorCode, 0);
  EndLine(f);
  EXPECT_EQ(TakeIoError(), TranslateSystemError(ErrorDiskFull));
  EXPECT_EQ(f.State, FileState::Writing);
  EndWrite(f);
  EXPECT_EQ(TakeIoError(), 0);
  WriteText(f, std::string(300, 'q'), 0);
  EXPECT_EQ(TakeIoError(), TranslateSystemError(ErrorDiskFull));
  EXPECT_EQ(f.Cursor, 44);
  const int fd = f.SystemHandle;
  CloseTextFile(f);
  EXPECT_EQ(TakeIoError(), TranslateSystemError(ErrorDiskFull));
  EXPECT_EQ(f.State, FileState::Closed);
  EXPECT_FALSE(IsOpenDescriptor(fd));
  Open(f, "/dev/full", FileState::Writing);
  CloseTextFile(f);
  EXPECT_EQ(TakeIoError(), 0);
}

TEST_F(TextFileOpenTest, FailedOpensLeaveTheChannelClosedWithTheirCode) {
  WriteFileBytes(dir.Join("plain.txt"), "p");
  ASSERT_EQ(::mkdir(dir.Join("sub").c_str(), 0777), 0);
  struct Case {
    const char* name;
    FileState mode;
    std::uint16_t code;
  };
  const Case cases[] = {
      {"nosuch.txt", FileState::Reading, 2},    {"nodir/in.txt", FileState::Reading, 3},
      {"nodir/out.txt", FileState::Writing, 3}, {"plain.txt/x", FileState::Reading, 3},
      {"sub", FileState::Reading, 5},           {"sub", FileState::Writing, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Join(c.name);
    const bool existed = FileExists(path);
    BindTextFile(f, path);
    c.mode == FileState::Reading ? OpenForReading(f) : OpenForWriting(f);
    EXPECT_EQ(f.State, FileState::Closed);
    EXPECT_EQ(f.SystemHandle, NoHandle);
    EXPECT_EQ(TakeIoError(), c.code);
    EXPECT_EQ(TakeIoError(), 0);
    EXPECT_EQ(FileExists(path), existed);
  }
}

TEST_F(TextFileOpenTest, OutputOnTheOpenInputIsRefusedThroughLinks) {
  const std::string input = dir.Join("in.txt");
  WriteFileBytes(input, "keep\r\n");
  ASSERT_EQ(::symlink(input.c_str(), dir.Join("soft").c_str()), 0);
  ASSERT_EQ(::link(input.c_str(), dir.Join("hard").c_str()), 0);
  Open(f, input, FileState::Reading);
  for (const char* name : {"soft", "hard"}) {
    SCOPED_TRACE(name);
    BindTextFile(g, dir.Join(name));
    OpenForWriting(g);
    EXPECT_EQ(TakeIoError(), 5);
    EXPECT_EQ(g.State, FileState::Closed);
    EXPECT_EQ(g.SystemHandle, NoHandle);
    EXPECT_EQ(ReadFileBytes(input), "keep\r\n");
  }
  EXPECT_EQ(ReadFrom(f), "keep");
  CloseTextFile(f);
  OpenForWriting(g);
  EXPECT_EQ(TakeIoError(), 0);
  CloseTextFile(g);
  EXPECT_EQ(ReadFileBytes(input), "");
}

TEST_F(TextFileOpenTest, InputOrSecondOutputOnAnOpenOutputIsRefused) {
  const std::string output = dir.Join("out.txt");
  Open(f, output, FileState::Writing);
  WriteText(f, std::string(300, 'w'), 0);
  ASSERT_EQ(::symlink(output.c_str(), dir.Join("soft").c_str()), 0);
  BindTextFile(g, dir.Join("soft"));
  OpenForReading(g);
  EXPECT_EQ(TakeIoError(), 5);
  OpenForWriting(g);
  EXPECT_EQ(TakeIoError(), 5);
  EXPECT_EQ(g.State, FileState::Closed);
  EXPECT_EQ(FileSize(output), 256);
  CloseTextFile(f);
  EXPECT_EQ(ReadFileBytes(output), std::string(300, 'w'));
}

TEST_F(TextFileOpenTest, ReopeningAnOpenChannelClosesItFirstAndReleasesEverything) {
  BindTextFile(f, dir.Join("out.txt"));
  for (int round = 0; round < 100 && IoErrorCode == 0; ++round) {
    OpenForWriting(f);
    WriteInteger(f, round, 0);
    OpenForReading(f);
    EXPECT_EQ(ReadFrom(f), std::to_string(round));
    EXPECT_TRUE(AtEndOfFile(f));
  }
  EXPECT_EQ(TakeIoError(), 0);
}

TEST_F(TextFileOpenTest, BackslashesBecomeSlashesInTheRecord) {
  ASSERT_EQ(::mkdir(dir.Join("sub").c_str(), 0777), 0);
  WriteFileBytes(dir.Join("sub/in.txt"), "x\n");
  Open(f, dir.path() + "\\sub\\in.txt", FileState::Reading);
  EXPECT_STREQ(f.Path, dir.Join("sub/in.txt").c_str());
  EXPECT_EQ(ReadFrom(f), "x");
  Open(g, dir.path() + "\\sub\\out.txt", FileState::Writing);
  EXPECT_STREQ(g.Path, dir.Join("sub/out.txt").c_str());
  WriteText(g, "y", 0);
  CloseTextFile(g);
  EXPECT_EQ(ReadFileBytes(dir.Join("sub/out.txt")), "y");
}

TEST_F(TextFileOpenTest, StandardHandlesAreNeverReleased) {
  const TextFile saved[] = {StandardInput, StandardOutput, ReportOutput};
  const int copies[] = {::dup(0), ::dup(1), ::dup(2)};
  SetUpStandardChannels();
  EXPECT_EQ(StandardInput.SystemHandle, 0);
  EXPECT_EQ(StandardInput.State, FileState::Reading);
  EXPECT_FALSE(StandardInput.WriteThrough);
  for (TextFile* out : {&StandardOutput, &ReportOutput}) {
    EXPECT_EQ(out->SystemHandle, 1);
    EXPECT_EQ(out->State, FileState::Writing);
    EXPECT_TRUE(out->WriteThrough);
  }
  BindToHandle(f, FileState::Writing, 2);
  BindTextFile(g, "");
  OpenForReading(g);
  EXPECT_EQ(g.SystemHandle, 0);
  for (TextFile* file : {&StandardInput, &StandardOutput, &ReportOutput, &f, &g}) {
    CloseTextFile(*file);
    EXPECT_EQ(file->State, FileState::Closed);
  }
  EXPECT_EQ(TakeIoError(), 0);
  for (int fd : {0, 1, 2}) {
    EXPECT_TRUE(IsOpenDescriptor(fd)) << fd;
    if (!IsOpenDescriptor(fd)) {
      ::dup2(copies[fd], fd);
    }
    ::close(copies[fd]);
  }
  StandardInput = saved[0];
  StandardOutput = saved[1];
  ReportOutput = saved[2];
}

TEST_F(TextFileStateTest, WrongStateSetsItsCodeAndLeavesTheChannelAlone) {
  enum class Setup { NeverBound, ClosedAfterUse, Reading, Writing };
  struct Case {
    const char* name;
    Setup setup;
    void (*operation)(TextFile&);
    std::uint16_t code;
  };
  const auto read = [](TextFile& t) {
    Line target("junk");
    ReadLine(t, target);
    EXPECT_TRUE(target.empty());
  };
  const auto at_end = [](TextFile& t) { EXPECT_TRUE(AtEndOfFile(t)); };
  const auto write = [](TextFile& t) { WriteText(t, "w", 0); };
  const auto write_integer = [](TextFile& t) { WriteInteger(t, 1, 0); };
  const Case cases[] = {
      {"open never bound for reading", Setup::NeverBound, OpenForReading, NeverBoundError},
      {"open never bound for writing", Setup::NeverBound, OpenForWriting, NeverBoundError},
      {"read never bound", Setup::NeverBound, read, NotOpenError},
      {"read closed", Setup::ClosedAfterUse, read, NotOpenError},
      {"end test closed", Setup::ClosedAfterUse, at_end, NotOpenError},
      {"write closed", Setup::ClosedAfterUse, write, NotOpenError},
      {"line end closed", Setup::ClosedAfterUse, EndLine, NotOpenError},
      {"second close", Setup::ClosedAfterUse, CloseTextFile, NotOpenError},
      {"read writing", Setup::Writing, read, OpenForWritingError},
      {"end test writing", Setup::Writing, at_end, OpenForWritingError},
      {"write reading", Setup::Reading, write, OpenForReadingError},
      {"integer reading", Setup::Reading, write_integer, OpenForReadingError},
      {"line end reading", Setup::Reading, EndLine, OpenForReadingError},
  };
  WriteFileBytes(dir.Join("in.txt"), "data\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextFile file{};
    if (c.setup == Setup::Reading || c.setup == Setup::ClosedAfterUse) {
      Open(file, dir.Join("in.txt"), FileState::Reading);
    } else if (c.setup == Setup::Writing) {
      Open(file, dir.Join("out.txt"), FileState::Writing);
      WriteText(file, "kept", 0);
    }
    if (c.setup == Setup::ClosedAfterUse) {
      CloseTextFile(file);
    }
    TextFile before;
    std::memcpy(&before, &file, sizeof file);
    c.operation(file);
    EXPECT_EQ(TakeIoError(), c.code);
    EXPECT_TRUE(SameRecord(file, before));
    if (file.State != FileState::Closed && file.State != FileState{}) {
      CloseTextFile(file);
    }
  }
  EXPECT_EQ(ReadFileBytes(dir.Join("out.txt")), "kept");
}

TEST_F(TextFileStateTest, PendingCodeMakesOperationsDoNothing) {
  WriteFileBytes(dir.Join("in.txt"), "first\n");
  Open(f, dir.Join("in.txt"), FileState::Reading);
  const std::string path = dir.Join("console.txt");
  BindToHandle(g, FileState::Writing, ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
  WriteText(g, "kept", 0);
  TextFile never_bound{};
  CloseTextFile(never_bound);
  ASSERT_EQ(IoErrorCode, NotOpenError);
  TextFile f_before;
  TextFile g_before;
  std::memcpy(&f_before, &f, sizeof f);
  std::memcpy(&g_before, &g, sizeof g);
  Line target("junk");
  ReadLine(f, target);
  EXPECT_TRUE(target.empty());
  EXPECT_TRUE(AtEndOfFile(f));
  OpenForWriting(f);
  CloseTextFile(f);
  WriteText(g, "lost", 0);
  WriteInteger(g, 1, 0);
  EndLine(g);
  CloseTextFile(g);
  EXPECT_TRUE(SameRecord(f, f_before));
  EXPECT_TRUE(SameRecord(g, g_before));
  EXPECT_EQ(ReadFileBytes(dir.Join("in.txt")), "first\n");
  EndWrite(g);
  EXPECT_EQ(ReadFileBytes(path), "kept");
  EXPECT_EQ(TakeIoError(), NotOpenError);
  EXPECT_EQ(ReadFrom(f), "first");
}

TEST(TextFileErrorTest, TranslateSystemError) {
  struct Case {
    std::uint32_t platform_error;
    std::uint16_t code;
  };
  const Case cases[] = {
      {0, 0},
      {2, 2},
      {3, 3},
      {5, 5},
      {18, 18},
      {19, 150},
      {25, 156},
      {31, 162},
      {32, 5},
      {33, 33},
      {112, 112},
      {232, 232},
      {0x10013, 0x13},
      {0x10020, 0x20},
      {0x12345, 0x2345},
      {0xFFFFFFFF, 0xFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.platform_error);
    EXPECT_EQ(TranslateSystemError(c.platform_error), c.code);
  }
}

}  // namespace
}  // namespace velk
