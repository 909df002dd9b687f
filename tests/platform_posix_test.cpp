// What only the POSIX platform layer gives: how it numbers system errors and faults.
#include "runtime/platform_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <tuple>
#include <utility>

namespace velk {
namespace {

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
