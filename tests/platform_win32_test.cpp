// What only the Windows platform layer gives: its exception table, the
// argument list cut from the raw command line, share modes, and "\" between
// directories. Runs under Wine in the cross build.
#include "runtime/platform_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/arguments.h"
#include "runtime/text_file.h"
#include "channel_test.h"
#include "test_support.h"

namespace velk {
namespace {

using testing::Open;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

TEST(PlatformWin32Test, ExceptionCodesBecomeRunTimeErrorNumbers) {
  const std::pair<std::uint32_t, std::uint16_t> cases[] = {
      {0x80000004, 217}, {0xC0000005, 216}, {0xC0000006, 217}, {0xC000001D, 217},
      {0xC000008C, 201}, {0xC000008D, 216}, {0xC000008E, 200}, {0xC0000090, 207},
      {0xC0000091, 205}, {0xC0000092, 207}, {0xC0000093, 206}, {0xC0000094, 200},
      {0xC0000095, 215}, {0xC0000096, 217}, {0xC00000FD, 202}, {0x80000003, 0},
      {0xC0000008, 0},   {0xE06D7363, 0},   {0, 0}};
  for (const auto& [code, number] : cases) {
    EXPECT_EQ(FaultNumberForException(code), number) << std::hex << code;
  }
}

TEST(PlatformWin32Test, ArgumentsAreCutFromTheRawCommandLine) {
  BuildArgumentList(0, nullptr);  // what the C runtime split is not looked at
  const CountedList words = SplitCommandLine(GetCommandLineA());
  ASSERT_EQ(ArgumentCount(), static_cast<std::int32_t>(words.size()) - 1);
  for (std::size_t i = 1; i < words.size(); ++i) {
    EXPECT_EQ(ArgumentAt(static_cast<std::int32_t>(i)), words[i]);
  }
  char path[256];
  GetModuleFileNameA(nullptr, path, sizeof path);
  EXPECT_EQ(ArgumentAt(0), path);
  EXPECT_NE(ArgumentAt(0).View().find(':'), std::string::npos);  // a full name with its drive
}

TEST(PlatformWin32Test, AFileHeldWithoutSharingByAnotherOpenerIsRefused) {
  testing::ScopedTempDir dir;
  const std::string name = dir.Join("held.txt");
  WriteFileBytes(name, "kept\r\n");
  HANDLE other = CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  TextFile file{};
  EXPECT_EQ(Open(file, name, FileState::Reading), 5);
  EXPECT_EQ(Open(file, name, FileState::Writing), 5);
  CloseHandle(other);
  EXPECT_EQ(ReadFileBytes(name), "kept\r\n");
  EXPECT_EQ(Open(file, name, FileState::Reading), 0);
  CloseTextFile(file);
}

TEST(PlatformWin32Test, NamesAreOpenedAsTypedWithEitherSeparator) {
  testing::ScopedTempDir dir;
  CreateDirectoryA((dir.path() + "\\sub").c_str(), nullptr);
  WriteFileBytes(dir.Join("sub/in.txt"), "x\r\n");
  TextFile file{};
  const std::string typed = dir.path() + "\\sub\\in.txt";
  EXPECT_EQ(Open(file, typed, FileState::Reading), 0);
  EXPECT_STREQ(file.Path, typed.c_str());
  CloseTextFile(file);
  EXPECT_EQ(Open(file, dir.path() + "\\nodir\\in.txt", FileState::Reading), 3);
  EXPECT_EQ(Open(file, dir.path() + "\\sub", FileState::Reading), 5);
}

TEST(PlatformWin32Test, ClosingAStandardChannelLeavesItsHandleOpen) {
  SetUpStandardChannels();
  CloseTextFile(StandardInput);
  CloseTextFile(StandardOutput);
  EXPECT_EQ(TakeIoError(), 0);
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), &flags));
}

}  // namespace
}  // namespace velk
