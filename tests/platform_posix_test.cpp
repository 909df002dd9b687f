#include "runtime/platform_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "runtime/platform.h"
#include "test_support.h"

namespace velk {
namespace {

TEST(PlatformPosixTest, ErrnoBecomesAPlatformError) {
  struct Case {
    int error_number;
    std::uint32_t on_read;
    std::uint32_t on_write;
  };
  const Case cases[] = {
      {ENOENT, 2, 2},     {ENOTDIR, 3, 3},
      {EACCES, 5, 5},     {EPERM, 5, 5},
      {EROFS, 5, 5},      {EISDIR, 5, 5},
      {ETXTBSY, 5, 5},    {EMFILE, 4, 4},
      {ENFILE, 4, 4},     {EBADF, 6, 6},
      {ENOSPC, 112, 112}, {EDQUOT, 112, 112},
      {EPIPE, 232, 232},  {ENAMETOOLONG, 206, 206},
      {EIO, 30, 29},      {EINVAL, 31, 31},
      {ELOOP, 31, 31},    {EEXIST, 31, 31},
      {EFBIG, 31, 31},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error_number);
    EXPECT_EQ(PlatformErrorFromErrno(c.error_number, AccessMode::Read), c.on_read);
    EXPECT_EQ(PlatformErrorFromErrno(c.error_number, AccessMode::Write), c.on_write);
  }
}

TEST(PlatformPosixTest, FaultNumbers) {
  struct Case {
    int signal_number;
    int signal_code;
    bool in_stack_guard;
    std::uint16_t number;
  };
  const Case cases[] = {
      {SIGSEGV, SEGV_MAPERR, false, 216},
      {SIGSEGV, SEGV_ACCERR, false, 216},
      {SIGSEGV, SEGV_MAPERR, true, 202},
      {SIGSEGV, SEGV_ACCERR, true, 202},
      {SIGBUS, BUS_ADRALN, false, 217},
      {SIGILL, ILL_ILLOPC, false, 217},
      {SIGTRAP, TRAP_BRKPT, false, 217},
      {SIGFPE, FPE_INTDIV, false, 200},
      {SIGFPE, FPE_INTOVF, false, 215},
      {SIGFPE, FPE_FLTDIV, false, 200},
      {SIGFPE, FPE_FLTOVF, false, 205},
      {SIGFPE, FPE_FLTUND, false, 206},
      {SIGFPE, FPE_FLTINV, false, 207},
      {SIGFPE, FPE_FLTSUB, false, 201},
      {SIGFPE, FPE_FLTRES, false, 207},
      {SIGFPE, 0, false, 207},
      {SIGINT, 0, false, 0},
      {SIGTERM, 0, false, 0},
      {SIGABRT, 0, false, 0},
      {SIGPIPE, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "signal " << c.signal_number << " code " << c.signal_code
                                      << " guard " << c.in_stack_guard);
    EXPECT_EQ(FaultNumber(c.signal_number, c.signal_code, c.in_stack_guard), c.number);
  }
}

TEST(PlatformPosixTest, StandardHandlesAreTheFirstThreeDescriptors) {
  EXPECT_EQ(PlatformStandardHandle(StandardStream::Input), 0);
  EXPECT_EQ(PlatformStandardHandle(StandardStream::Output), 1);
  EXPECT_EQ(PlatformStandardHandle(StandardStream::Error), 2);
}

TEST(PlatformPosixTest, FilesMoveBytesAndAreCreatedWithMode0666LessTheUmask) {
  velk::testing::ScopedTempDir dir;
  const std::string path = dir.Join("f.txt");
  const mode_t old_mask = ::umask(022);
  const SystemHandle32 out = PlatformOpenFile(path.c_str(), AccessMode::Write, nullptr, 0);
  ::umask(old_mask);
  ASSERT_NE(out, NoHandle);
  EXPECT_FALSE(PlatformIsCharDevice(out));
  std::int32_t count = -1;
  EXPECT_TRUE(PlatformWrite(out, "hello", 5, &count));
  EXPECT_EQ(count, 5);
  PlatformClose(out);
  EXPECT_EQ(::fcntl(out, F_GETFD), -1);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  const SystemHandle32 in = PlatformOpenFile(path.c_str(), AccessMode::Read, nullptr, 0);
  char buffer[256];
  EXPECT_TRUE(PlatformRead(in, buffer, 256, &count));
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(count)), "hello");
  EXPECT_TRUE(PlatformRead(in, buffer, 256, &count));
  EXPECT_EQ(count, 0);
  PlatformClose(in);
  EXPECT_FALSE(PlatformRead(in, buffer, 256, &count));
  EXPECT_EQ(PlatformLastError(), ErrorInvalidHandle);
}

TEST(PlatformPosixTest, HeldFileIsASharingViolationBeforeAnythingIsEmptied) {
  velk::testing::ScopedTempDir dir;
  const std::string path = dir.Join("held.txt");
  velk::testing::WriteFileBytes(path, "data");
  ASSERT_EQ(::link(path.c_str(), dir.Join("other").c_str()), 0);
  const SystemHandle32 held[] = {PlatformOpenFile(path.c_str(), AccessMode::Read, nullptr, 0)};
  ASSERT_NE(held[0], NoHandle);
  EXPECT_EQ(PlatformOpenFile(dir.Join("other").c_str(), AccessMode::Write, held, 1), NoHandle);
  EXPECT_EQ(PlatformLastError(), ErrorSharingViolation);
  EXPECT_EQ(velk::testing::ReadFileBytes(path), "data");
  const SystemHandle32 unrelated =
      PlatformOpenFile(dir.Join("new.txt").c_str(), AccessMode::Write, held, 1);
  EXPECT_NE(unrelated, NoHandle);
  PlatformClose(unrelated);
  PlatformClose(held[0]);
}

TEST(PlatformPosixTest, RefusedWritesReportDiskFullOrBrokenPipe) {
  struct sigaction ignore {};
  struct sigaction old {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  EXPECT_FALSE(PlatformIsCharDevice(ends[0]));
  PlatformClose(ends[0]);
  const SystemHandle32 full = PlatformOpenFile("/dev/full", AccessMode::Write, nullptr, 0);
  EXPECT_TRUE(PlatformIsCharDevice(full));
  std::int32_t count = -1;
  EXPECT_TRUE(PlatformWrite(full, "", 0, &count));
  EXPECT_EQ(count, 0);
  for (const auto& [handle, error] : {std::pair{full, ErrorDiskFull}, {ends[1], ErrorBrokenPipe}}) {
    SCOPED_TRACE(error);
    count = -1;
    EXPECT_FALSE(PlatformWrite(handle, "x", 1, &count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(PlatformLastError(), error);
    PlatformClose(handle);
  }
  ::sigaction(SIGPIPE, &old, nullptr);
}

}  // namespace
}  // namespace velk
