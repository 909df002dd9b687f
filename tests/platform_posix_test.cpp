// What only the POSIX platform layer gives: its tables, the argument list as
// the system hands it over, and what symlinks, devices and pipes do to the
// channels.
#include "runtime/platform_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

#include "channel_test.h"
#include "runtime/arguments.h"
#include "runtime/text_file.h"
#include "test_support.h"

namespace velk {
namespace {

using testing::ChannelTest;
using testing::Open;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

using PosixChannelTest = ChannelTest;

TEST_F(PosixChannelTest, OutputOnTheOpenInputIsRefusedThroughASymlinkWhileReadersShare) {
  const std::string input = dir.Join("in.txt"), link = dir.Join("link");
  WriteFileBytes(input, "keep\r\n");
  ASSERT_EQ(::symlink(input.c_str(), link.c_str()), 0);
  ASSERT_EQ(Open(f, input, FileState::Reading), 0);
  EXPECT_EQ(Open(h, link, FileState::Reading), 0);
  EXPECT_EQ(Open(g, link, FileState::Writing), 5);
  EXPECT_EQ(ReadFileBytes(input), "keep\r\n");
  CloseTextFile(f);
  CloseTextFile(h);
  EXPECT_EQ(Open(g, link, FileState::Writing), 0);
}

TEST_F(PosixChannelTest, RefusedWritesKeepTheSystemsReason) {
  ::signal(SIGPIPE, SIG_IGN);  // as the program does at start-up
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  ASSERT_EQ(Open(f, "/dev/full", FileState::Writing), 0);
  BindToHandle(g, FileState::Writing, ends[1]);
  for (const auto& [file, code] : {std::pair{&f, 112}, {&g, 232}}) {
    EndLine(*file);
    EXPECT_EQ(TakeIoError(), code);
    CloseTextFile(*file);
    EXPECT_EQ(TakeIoError(), 0);
  }
}

TEST_F(PosixChannelTest, ClosingAStandardChannelLeavesItsHandleOpen) {
  SetUpStandardChannels();
  CloseTextFile(StandardInput);
  CloseTextFile(StandardOutput);
  EXPECT_EQ(TakeIoError(), 0);
  EXPECT_TRUE(::fcntl(0, F_GETFD) != -1 && ::fcntl(1, F_GETFD) != -1);
}

TEST(PlatformPosixTest, AMissingFileIsNotFoundWhereItsDirectoryExists) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"/velk-no-such-file", ErrorFileNotFound},
      {"velk-no-such-file", ErrorFileNotFound},
      {"/velk-no-such-directory/file", ErrorPathNotFound}};
  for (const auto& [path, error] : cases) {
    EXPECT_EQ(PlatformOpenFile(path, AccessMode::Read, nullptr, 0), NoHandle) << path;
    EXPECT_EQ(PlatformLastError(), error) << path;
  }
}

TEST(PosixArgumentListTest, EntryZeroIsTheExecutableThenTheArgumentsAsDelivered) {
  std::string name = "not-the-executable", option = "-D";
  char* argv[] = {name.data(), option.data(), nullptr};
  BuildArgumentList(2, argv);
  EXPECT_EQ(ArgumentCount(), 1);
  EXPECT_EQ(ArgumentAt(0), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(ArgumentAt(1), "-D");
  EXPECT_EQ(ArgumentAt(-1).size() + ArgumentAt(2).size() + ArgumentAt(INT32_MIN).size(), 0u);
}

TEST(PlatformPosixTest, ErrnoBecomesAPlatformError) {
  const std::pair<int, std::uint32_t> cases[] = {
      {ENOENT, 2},  {ENOTDIR, 3},        {EACCES, 5},  {EPERM, 5}, {EROFS, 5},    {EISDIR, 5},
      {ETXTBSY, 5}, {EMFILE, 4},         {ENFILE, 4},  {EBADF, 6}, {ENOSPC, 112}, {EDQUOT, 112},
      {EPIPE, 232}, {ENAMETOOLONG, 206}, {EINVAL, 31}, {ELOOP, 31}};
  for (const auto& [error_number, platform_error] : cases) {
    EXPECT_EQ(PlatformErrorFromErrno(error_number, AccessMode::Read), platform_error);
    EXPECT_EQ(PlatformErrorFromErrno(error_number, AccessMode::Write), platform_error);
  }
  EXPECT_EQ(PlatformErrorFromErrno(EIO, AccessMode::Read), ErrorReadFault);
  EXPECT_EQ(PlatformErrorFromErrno(EIO, AccessMode::Write), ErrorWriteFault);
}

TEST(PlatformPosixTest, FaultNumbers) {
  const std::tuple<int, int, bool, std::uint16_t> cases[] = {
      {SIGSEGV, SEGV_MAPERR, 0, 216}, {SIGSEGV, SEGV_ACCERR, 1, 202}, {SIGBUS, BUS_ADRALN, 0, 217},
      {SIGILL, ILL_ILLOPC, 0, 217},   {SIGTRAP, TRAP_BRKPT, 0, 217},  {SIGFPE, FPE_INTDIV, 0, 200},
      {SIGFPE, FPE_INTOVF, 0, 215},   {SIGFPE, FPE_FLTDIV, 0, 200},   {SIGFPE, FPE_FLTOVF, 0, 205},
      {SIGFPE, FPE_FLTUND, 0, 206},   {SIGFPE, FPE_FLTINV, 0, 207},   {SIGFPE, FPE_FLTSUB, 0, 201},
      {SIGINT, SI_USER, 0, 0},        {SIGPIPE, SI_USER, 0, 0}};
  for (const auto& [signal_number, code, guard, number] : cases) {
    EXPECT_EQ(FaultNumber(signal_number, code, guard), number) << signal_number << " " << code;
  }
}

}  // namespace
}  // namespace velk
