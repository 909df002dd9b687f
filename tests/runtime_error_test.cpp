#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace velk {
namespace {

using testing::ChildResult;

const std::string Probe = VELK_RUNTIME_PROBE;

#ifdef VELK_SANITIZE
constexpr bool Sanitized = true;  // the sanitizers catch faults and huge requests first
#else
constexpr bool Sanitized = false;
#endif

struct Report {
  int Number = -1;
  std::string Address;                 // the 8 digits of lines 1 and 2
  std::vector<std::string> BackTrace;  // the 8 digits of every later line
};

// The 8 digits after `prefix` when `line` is exactly that prefix and 8
// upper-case hexadecimal digits; empty otherwise.
std::string DigitsAfter(const std::string& line, const std::string& prefix) {
  const bool exact = line.size() == prefix.size() + 8 && line.starts_with(prefix) &&
                     line.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos;
  return exact ? line.substr(prefix.size()) : "";
}

// Takes a report apart, failing the test when its bytes are not exactly in
// the report's layout.
Report ParseReport(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = 0; (end = bytes.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(bytes.substr(start, end - start));
  }
  Report report;
  const std::string head = "Runtime error ";
  if (start != bytes.size() || lines.size() < 3 || !lines.back().empty() ||
      !lines[0].starts_with(head)) {
    ADD_FAILURE() << "not a report: " << ::testing::PrintToString(bytes);
    return report;
  }
  report.Number = std::atoi(lines[0].c_str() + head.size());
  report.Address = DigitsAfter(lines[0], head + std::to_string(report.Number) + " at 0x");
  EXPECT_NE(report.Address, "") << lines[0];
  EXPECT_EQ(DigitsAfter(lines[1], "  0x"), report.Address) << lines[1];
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    report.BackTrace.push_back(DigitsAfter(lines[i], "  0x"));
    EXPECT_FALSE(report.BackTrace.back().empty()) << "line " << i + 1 << ": " << lines[i];
  }
  EXPECT_NE(report.Address, "00000000");
  return report;
}

ChildResult RunProbe(const std::vector<std::string>& args, const std::string& cwd = "/") {
  return testing::RunChild(Probe, args, cwd);
}

// Runs the probe with a pseudo-terminal as its standard output, in raw mode
// so that the bytes arrive as written.
ChildResult RunProbeOnTerminal(const std::vector<std::string>& args) {
  ChildResult result;
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    termios mode;
    tcgetattr(STDOUT_FILENO, &mode);
    cfmakeraw(&mode);
    tcsetattr(STDOUT_FILENO, TCSANOW, &mode);
    std::vector<char*> argv = {const_cast<char*>(Probe.c_str())};
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(Probe.c_str(), argv.data());
    _exit(127);
  }
  if (pid < 0) {
    ADD_FAILURE() << "forkpty failed";
    return result;
  }
  // Read until the child's side is closed (EIO); the poll limit only guards
  // against a hang.
  for (;;) {
    pollfd ready = {terminal, POLLIN, 0};
    if (poll(&ready, 1, 30000) <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    char chunk[4096];
    const ssize_t n = read(terminal, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    result.Stdout.append(chunk, static_cast<std::size_t>(n));
  }
  close(terminal);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

struct Place {
  std::string Functions;  // the function, and the ones it was inlined into
  std::string Source;     // file:line of the innermost one
};

// What addr2line makes of report addresses in the probe.
std::vector<Place> Resolve(const std::vector<std::string>& addresses) {
  std::vector<std::string> args = {"addr2line", "-a", "-f", "-i", "-C", "-e", Probe};
  for (const std::string& address : addresses) {
    args.push_back("0x" + address);
  }
  std::istringstream lines(testing::RunChild("/usr/bin/env", args, "/").Stdout);
  std::vector<Place> places;
  std::string function;
  std::string source;
  while (std::getline(lines, function)) {
    if (function.starts_with("0x")) {
      places.emplace_back();
    } else if (std::getline(lines, source) && !places.empty()) {
      places.back().Functions += function + "\n";
      if (places.back().Source.empty()) {
        places.back().Source = source;
      }
    }
  }
  EXPECT_EQ(places.size(), addresses.size());
  return places;
}

TEST(RuntimeErrorTest, CheckedIoErrorWritesTheReportAndExitsWithItsNumber) {
  const ChildResult run = RunProbe({"io"});
  EXPECT_EQ(run.ExitStatus, 103);
  const Report report = ParseReport(run.Stdout);
  EXPECT_EQ(report.Number, 103);
  EXPECT_GE(report.BackTrace.size(), 2u);
}

TEST(RuntimeErrorTest, StopsWithoutAnErrorWriteNoReport) {
  struct Case {
    std::vector<std::string> args;
    std::string output;
    int status;
  };
  const Case cases[] = {
      {{"stop"}, "stopping\r\n", 3},
      {{"normal"}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const ChildResult run = RunProbe(c.args);
    EXPECT_EQ(run.Stdout, c.output);
    EXPECT_EQ(run.ExitStatus, c.status);
  }
}

TEST(RuntimeErrorTest, BackTraceToAPipeListsEveryFrameUpTo257) {
  const Report shallow = ParseReport(RunProbe({"deep", "20"}).Stdout);
  const Report deep = ParseReport(RunProbe({"deep", "30"}).Stdout);
  EXPECT_EQ(deep.Number, 103);
  EXPECT_GT(deep.BackTrace.size(), 30u);
  EXPECT_EQ(deep.BackTrace.size() - shallow.BackTrace.size(), 10u);
  EXPECT_EQ(ParseReport(RunProbe({"deep", "300"}).Stdout).BackTrace.size(), 257u);
}

TEST(RuntimeErrorTest, BackTraceOnATerminalStopsAfterNineFrames) {
  const ChildResult run = RunProbeOnTerminal({"deep", "30"});
  EXPECT_EQ(run.ExitStatus, 103);
  const Report report = ParseReport(run.Stdout);
  EXPECT_EQ(report.Number, 103);
  EXPECT_EQ(report.BackTrace.size(), 9u);
}

TEST(RuntimeErrorTest, FaultsAndExhaustedMemoryEndWithTheirNumbers) {
  if (Sanitized) {
    GTEST_SKIP() << "the sanitizers take these over";
  }
  struct Case {
    const char* mode;
    int number;
  };
  const Case cases[] = {{"null", 216}, {"div", 200}, {"memory", 203}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const ChildResult run = RunProbe({c.mode});
    EXPECT_EQ(run.ExitStatus, c.number);
    EXPECT_EQ(run.TermSignal, 0);
    EXPECT_EQ(ParseReport(run.Stdout).Number, c.number);
  }
}

TEST(RuntimeErrorTest, ReportAddressesResolveToTheFailingFunctionAndItsCallers) {
  struct Case {
    std::vector<std::string> args;
    bool fault;
    std::string failed;  // named by line 1, in the probe; empty: not checked
    std::string caller;  // named by the first back-trace line; empty: not checked
  };
  const Case cases[] = {
      {{"io"}, false, "FailCheckedClose", "Perform"},
      {{"deep", "2"}, false, "FailCheckedClose", "Descend"},
      {{"null"}, true, "ReadThroughNull", ""},
      {{"div"}, true, "DivideByZero", ""},
      {{"memory"}, true, "", "ExhaustMemory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    if (c.fault && Sanitized) {
      continue;
    }
    const Report report = ParseReport(RunProbe(c.args).Stdout);
    ASSERT_GE(report.BackTrace.size(), 2u);
    std::vector<std::string> addresses = {report.Address};
    addresses.insert(addresses.end(), report.BackTrace.begin(), report.BackTrace.end());
    const std::vector<Place> places = Resolve(addresses);
    ASSERT_EQ(places.size(), addresses.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
      EXPECT_FALSE(places[i].Functions.starts_with("??"))
          << "line " << i + 2 << ": 0x" << addresses[i];
    }
    if (!c.failed.empty()) {
      EXPECT_NE(places[0].Functions.find(c.failed), std::string::npos) << places[0].Functions;
      EXPECT_NE(places[0].Source.find("runtime_probe.cpp:"), std::string::npos) << places[0].Source;
    }
    EXPECT_NE(places[1].Functions.find(c.caller), std::string::npos) << places[1].Functions;
    // The walk ends with the driver's return into the start-up.
    EXPECT_NE(places.back().Functions.find("RuntimeStartup"), std::string::npos)
        << places.back().Functions;
  }
}

TEST(RuntimeErrorTest, EveryStopLeavesAnOpenOutputFileWhole) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool fault;
  };
  const Case cases[] = {
      {{"flush", "100", "stop"}, 3, false},    {{"flush", "100", "io"}, 103, false},
      {{"flush", "7", "normal"}, 0, false},    {{"flush", "31", "deep", "40"}, 103, false},
      {{"flush", "100", "null"}, 216, true},   {{"flush", "100", "div"}, 200, true},
      {{"flush", "100", "memory"}, 203, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    if (c.fault && Sanitized) {
      continue;
    }
    const testing::ScopedTempDir dir;
    const ChildResult run = RunProbe(c.args, dir.path());
    EXPECT_EQ(run.ExitStatus, c.status);
    std::string expected;
    for (int i = 1; i <= std::stoi(c.args[1]); ++i) {
      expected += "line " + std::to_string(i) + "\r\n";
    }
    // 100 lines are 892 bytes: three whole buffers and a part-filled one.
    EXPECT_EQ(testing::ReadFileBytes(dir.Join("flush.txt")), expected);
  }
}

}  // namespace
}  // namespace velk
