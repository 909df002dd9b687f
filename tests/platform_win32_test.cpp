// What only the Windows platform layer gives: its exception table, share
// modes and the end of a pipe. Runs under Wine in the cross build.
#include "runtime/platform_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "harness.h"
#include "runtime/text_file.h"

namespace velk {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// Binds and opens `file`; gives the code of the open (0: open).
std::uint16_t Open(TextFile& file, const std::string& path, FileState mode) {
  BindTextFile(file, path);
  mode == FileState::Reading ? OpenForReading(file) : OpenForWriting(file);
  return TakeIoError();
}

TEST(PlatformWin32Test, ExceptionCodesBecomeRunTimeErrorNumbers) {
  // clang-format off
  const std::uint32_t cases[][2] = {
      {0x80000004, 217}, {0xC0000005, 216}, {0xC0000006, 217}, {0xC000001D, 217},
      {0xC000008C, 201}, {0xC000008D, 216}, {0xC000008E, 200}, {0xC0000090, 207},
      {0xC0000091, 205}, {0xC0000092, 207}, {0xC0000093, 206}, {0xC0000094, 200},
      {0xC0000095, 215}, {0xC0000096, 217}, {0xC00000FD, 202}, {0x80000003, 0},
      {0xC0000008, 0},   {0xE06D7363, 0},   {0, 0}};
  // clang-format on
  for (const auto& [code, number] : cases) {
    EXPECT_EQ(FaultNumberForException(code), number) << std::hex << code;
  }
}

TEST(PlatformWin32Test, AFileIsSharedWithNoOtherOpenerEitherWay) {
  testing::TempDir dir;
  const std::string name = dir.Join("held.txt");
  WriteFile(name, "kept\r\n");
  const auto open_other = [&](DWORD access, DWORD share) {
    return CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  TextFile file{};
  HANDLE other = open_other(GENERIC_READ, 0);
  EXPECT_EQ(Open(file, name, FileState::Reading), 5);
  EXPECT_EQ(Open(file, name, FileState::Writing), 5);
  CloseHandle(other);
  EXPECT_EQ(ReadFile(name), "kept\r\n");
  // While a channel has it, no one else opens it, to read or to write, whatever they share.
  for (const FileState state : {FileState::Reading, FileState::Writing}) {
    ASSERT_EQ(Open(file, name, state), 0);
    for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
      other = open_other(access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
      const DWORD error = GetLastError();
      EXPECT_TRUE(other == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION) << access;
      if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
      }
    }
    CloseTextFile(file);
    EXPECT_EQ(TakeIoError(), 0);
  }
}

TEST(PlatformWin32Test, APipeWhoseWriterWentAwayEndsTheInput) {
  HANDLE read_end = nullptr, write_end = nullptr;
  DWORD written = 0;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  ::WriteFile(write_end, "a\r\n", 3, &written, nullptr);
  CloseHandle(write_end);
  TextFile file{};
  BindToHandle(file, FileState::Reading,
               static_cast<SystemHandle32>(reinterpret_cast<std::intptr_t>(read_end)));
  char chars[255];
  EXPECT_EQ(ReadLineInto(file, chars, 255), 1);
  EXPECT_TRUE(AtEndOfFile(file));
  EXPECT_EQ(TakeIoError(), 0);
  CloseHandle(read_end);
}

}  // namespace
}  // namespace velk
