// The runtime's stops, reports and faults, seen from outside in a small program on the runtime
// alone (probe/runtime_probe.cpp).
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "harness.h"

namespace velk {
namespace {

using namespace testing;

const Program Probe(VELK_RUNTIME_PROBE, "VELK_TEST_PROBE");

#ifdef VELK_SANITIZE
constexpr bool Sanitized = true;  // the sanitizers catch faults and huge requests first
#else
constexpr bool Sanitized = false;
#endif

// What addr2line says about an address of the probe's report.
std::string Place(const std::string& address) {
  return RunChild({"/usr/bin/env", Probe.Addr2Line, "-f", "-C", "-e", Probe.File, "0x" + address},
                  "/")
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
  std::string lines;  // 100 lines are 892 bytes, far less than a named file's buffer
  for (int i = 1; i <= 100; ++i) {
    lines += "line " + std::to_string(i) + "\r\n";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode[0] + " " + c.mode.back());
    if (c.fault && Sanitized) {
      continue;
    }
    const TempDir dir;
    std::vector<std::string> args = {"flush", "100"};
    args.insert(args.end(), c.mode.begin(), c.mode.end());
    const Result run = RunChild(Probe.Command(args), dir.path);
    EXPECT_EQ(run.Status, c.status);
    EXPECT_EQ(ReadFile(dir.Join("flush.txt")), lines);
    if (c.failed.empty()) {
      EXPECT_EQ(run.Stdout, "");
      continue;
    }
    const std::vector<std::string> addresses = ReportAddresses(run.Stdout, c.status);
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
  const Result run = RunChild({"/usr/bin/script", "-qec", Probe.File + " io 30", "/dev/null"}, "/");
  EXPECT_EQ(run.Status, 103);
  std::string bytes = run.Stdout;
  for (std::size_t at = 0; (at = bytes.find("\r\r\n", at)) != std::string::npos;) {
    bytes.erase(at, 1);
  }
  EXPECT_EQ(ReportAddresses(bytes, 103).size(), 10u);
}

TEST(RuntimeErrorTest, AFaultSignalSentByAProcessEndsItWithoutAReport) {
  if (Probe.Windows) {
    GTEST_SKIP() << "signals are POSIX's";
  }
  const TempDir dir;
  const Result end = RunChild(Probe.Command({"kill"}), dir.path);
  EXPECT_EQ(end.Signal, SIGSEGV);
  EXPECT_EQ(end.Status, -1);
  EXPECT_EQ(end.Stdout, "");
}

}  // namespace
}  // namespace velk
