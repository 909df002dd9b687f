#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
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
// arm64 divides by zero without a fault (the quotient is 0): its run leaves that row out.
const bool DivisionFaults = std::getenv("VELK_TEST_NO_DIVISION_FAULT") == nullptr;

// What addr2line says about an address of the probe's report.
std::string Place(const std::string& address) {
  return testing::RunChild("/usr/bin/env",
                           {Probe.Addr2Line, "-f", "-C", "-e", Probe.Program, "0x" + address}, "/")
      .Stdout;
}

TEST(RuntimeErrorTest, EveryEndGivesItsStatusAndReportAndLeavesTheOutputFileWhole) {
  struct Case {
    std::vector<std::string> mode;
    int status;
    std::size_t frames;  // lines of the back-trace (for a fault, at least)
    std::string failed;  // what addr2line names for line 1 of the report; empty: no report
    bool fault;          // a real fault or exhausted memory
  };
  // A checked failure N calls down in FailCheckedClose walks its N + 1 frames, those of
  // Perform (twice: "flush" calls it again) and the driver's, which returns into the start-up.
  const Case cases[] = {{{"stop"}, 3, 0, "", false},
                        {{"io", "0"}, 103, 4, "FailCheckedClose", false},
                        {{"io", "30"}, 103, 34, "FailCheckedClose", false},
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
    if ((c.fault && Sanitized) || (c.mode[0] == "div" && !DivisionFaults)) {
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
    const std::vector<std::string> addresses = testing::ReportAddresses(run.Stdout, c.status);
    if (c.fault) {
      ASSERT_GE(addresses.size(), c.frames + 1);
      EXPECT_LE(addresses.size(), 258u);
    } else {
      ASSERT_EQ(addresses.size(), c.frames + 1);
    }
    EXPECT_NE(Place(addresses[0]).find(c.failed), std::string::npos) << Place(addresses[0]);
    if (!c.fault && c.frames < 257) {
      EXPECT_NE(Place(addresses.back()).find("RuntimeStartup"), std::string::npos);
    }
  }
}

TEST(RuntimeErrorTest, ABackTraceOnATerminalStopsAfterNineFrames) {
  if (Probe.Windows) {
    GTEST_SKIP() << "a pseudo-terminal is a POSIX device";
  }
  // script gives the probe a pseudo-terminal as its output, which writes "\n" as "\r\n".
  const testing::ChildResult run = testing::RunChild(
      "/usr/bin/script", {"-qec", Probe.Runner + " " + Probe.Program + " io 30", "/dev/null"}, "/");
  EXPECT_EQ(run.ExitStatus, 103);
  std::string bytes = run.Stdout;
  for (std::size_t at = 0; (at = bytes.find("\r\r\n", at)) != std::string::npos;) {
    bytes.erase(at, 1);
  }
  EXPECT_EQ(testing::ReportAddresses(bytes, 103).size(), 10u);
}

TEST(RuntimeErrorTest, AFaultSignalFromAnotherProcessEndsItWithoutAReport) {
  if (Probe.Windows) {
    GTEST_SKIP() << "signals are POSIX's";
  }
  const testing::ScopedTempDir dir;
  testing::BackgroundChild probe(Probe, {"hold", "held.txt"}, dir.path());
  ASSERT_EQ(probe.ReadLine(), "held");
  probe.Signal(SIGSEGV);
  const testing::ChildResult end = probe.Finish();
  EXPECT_EQ(end.TermSignal, SIGSEGV);
  EXPECT_EQ(end.ExitStatus, -1);
  EXPECT_EQ(end.Stdout, "");
}

}  // namespace
}  // namespace velk
