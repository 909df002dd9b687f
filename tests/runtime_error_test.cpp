#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "test_support.h"

namespace velk {
namespace {

const testing::ProgramUnderTest Probe =
    testing::ProgramFromEnvironment(VELK_RUNTIME_PROBE, "VELK_TEST_PROBE");

#ifdef VELK_SANITIZE
constexpr bool Sanitized = true;  // the sanitizers catch faults and huge requests first
#else
constexpr bool Sanitized = false;
#endif

// The addresses of lines 2 and on of a report, whose bytes must be exactly in
// the report's layout, CR LF after every line.
std::vector<std::string> ReportAddresses(const std::string& bytes, int number) {
  std::vector<std::string> addresses;
  std::string rebuilt = "Runtime error " + std::to_string(number) + " at 0x";
  for (std::size_t at = 0; (at = bytes.find("\r\n  0x", at)) != std::string::npos; ++at) {
    addresses.push_back(bytes.substr(at + 6, 8));
    const std::string& a = addresses.back();
    EXPECT_TRUE(a.size() == 8 && a.find_first_not_of("0123456789ABCDEF") == a.npos) << a;
    rebuilt += (addresses.size() == 1 ? a : "") + "\r\n  0x" + a;
  }
  EXPECT_EQ(bytes, rebuilt + "\r\n\r\n");
  return addresses;
}

TEST(RuntimeErrorTest, EveryEndGivesItsStatusAndReportAndLeavesTheOutputFileWhole) {
  struct Case {
    std::vector<std::string> mode;
    int status;
    std::size_t frames;  // the back-trace has at least these lines (and at most 257)
    std::string failed;  // what addr2line names for line 1 of the report; empty: no report
    bool fault;          // a real fault or exhausted memory
  };
  const Case cases[] = {{{"stop"}, 3, 0, "", false},
                        {{"io", "0"}, 103, 2, "FailCheckedClose", false},
                        {{"io", "30"}, 103, 31, "FailCheckedClose", false},
                        {{"io", "300"}, 103, 257, "FailCheckedClose", false},
                        {{"null"}, 216, 2, "ReadThroughNull", true},
                        {{"div"}, 200, 2, "DivideByZero", true},
                        {{"recurse"}, 202, 257, "Recurse", true},
                        {{"memory"}, 203, 3, "operator new", true}};
  std::string lines;  // 100 lines are 892 bytes: three whole buffers and a part-filled one
  for (int i = 1; i <= 100; ++i) {
    lines += "line " + std::to_string(i) + "\r\n";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode[0] + " " + c.mode.back());
    if (c.fault && Sanitized) {
      continue;
    }
    const testing::ScopedTempDir dir;
    std::vector<std::string> args = {"flush", "100"};
    args.insert(args.end(), c.mode.begin(), c.mode.end());
    const testing::ChildResult run = testing::RunChild(Probe, args, dir.path());
    EXPECT_EQ(run.ExitStatus, c.status);
    EXPECT_EQ(testing::ReadFileBytes(dir.Join("flush.txt")), lines);
    if (c.failed.empty()) {
      EXPECT_EQ(run.Stdout, "");
      continue;
    }
    const std::vector<std::string> addresses = ReportAddresses(run.Stdout, c.status);
    ASSERT_GE(addresses.size(), c.frames + 1);
    EXPECT_LE(addresses.size(), 258u);
    const std::string place =
        testing::RunChild("/usr/bin/env",
                          {Probe.Addr2Line, "-f", "-C", "-e", Probe.Program, "0x" + addresses[0]}, "/")
            .Stdout;
    EXPECT_NE(place.find(c.failed), std::string::npos) << place;
  }
}

TEST(RuntimeErrorTest, ABackTraceOnATerminalStopsAfterNineFrames) {
  if (Probe.Windows) {
    GTEST_SKIP() << "a pseudo-terminal is a POSIX device";
  }
  // script gives the probe a pseudo-terminal as its output, which writes "\n" as "\r\n".
  const testing::ChildResult run =
      testing::RunChild("/usr/bin/script", {"-qec", Probe.Program + " io 30", "/dev/null"}, "/");
  EXPECT_EQ(run.ExitStatus, 103);
  std::string bytes = run.Stdout;
  for (std::size_t at = 0; (at = bytes.find("\r\r\n", at)) != std::string::npos;) {
    bytes.erase(at, 1);
  }
  EXPECT_EQ(ReportAddresses(bytes, 103).size(), 10u);
}

}  // namespace
}  // namespace velk
