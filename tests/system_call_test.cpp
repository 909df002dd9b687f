// What the POSIX layer does with the system's own answers: the real velk
// runs under strace, which makes chosen system calls on one file come back
// interrupted, short or failed (-P limits the counting to that file).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "child_process.h"
#include "test_support.h"

namespace velk {
namespace {

TEST(SystemCallTest, InterruptedCallsAreRetriedAndFailuresKeepTheSystemsReason) {
  const std::string whole = "one\r\ntwo\r\n";
  const struct {
    const char* file;
    std::string inject;
    int status;  // 0: no report
    std::string output;
  } cases[] = {{"a.src", "openat:error=EINTR:when=1", 0, whole},
               {"a.PAS", "openat:error=EINTR:when=1", 0, whole},
               {"a.src", "read:error=EINTR:when=1+2", 0, whole},  // the last read too
               {"a.PAS", "write:error=EINTR:when=1", 0, whole},
               {"a.PAS", "write:retval=2:when=1", 0, whole.substr(2)},  // said to take 2 bytes
               {"a.PAS", "write:retval=0:when=1", 101, ""},
               {"a.PAS", "close:error=EINTR:when=1", 0, whole},  // released all the same
               {"a.PAS", "close:error=EIO:when=1", 160, whole},
               {"a.PAS", "close:error=ENOSPC:when=1", 112, whole},
               {"a.PAS", "close:error=EDQUOT:when=1", 112, whole},
               {"a.src", "close:error=EIO:when=1", 0, whole},
               {"a.src", "read:error=EIO:when=1", 161, ""},
               {"a.PAS", "write:error=EIO:when=1", 160, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.inject);
    const testing::ScopedTempDir dir;
    // Names in full: strace matches an open's name as velk passes it.
    const std::string here = std::filesystem::canonical(dir.path()).string() + "/";
    testing::WriteFileBytes(dir.Join("a.src"), "one\ntwo\n");
    const std::string syscall = c.inject.substr(0, c.inject.find(':'));
    const testing::ChildResult run =
        testing::RunChild(VELK_STRACE,
                          {"-o", "/dev/null", "-P", here + c.file, "-e", "trace=" + syscall, "-e",
                           "inject=" + c.inject, VELK_BINARY, here + "a.src"},
                          dir.path());
    EXPECT_EQ(run.ExitStatus, c.status);
    if (c.status == 0) {
      EXPECT_EQ(run.Stdout, "");
    } else {
      EXPECT_GE(testing::ReportAddresses(run.Stdout, c.status).size(), 2u);
    }
    EXPECT_EQ(testing::ReadFileBytes(dir.Join("a.PAS")), c.output);
  }
}

}  // namespace
}  // namespace velk
