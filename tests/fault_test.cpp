// velk on a platform layer that fails on demand (fake_platform.h): each run
// is a forked child that starts velk as main does, so that every run begins
// with fresh process-wide state and ends as velk ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "engine/run_driver.h"
#include "fake_platform.h"
#include "runtime/platform.h"
#include "runtime/startup.h"
#include "runtime/text_file.h"
#include "test_support.h"

namespace velk {
namespace {

using fake::Call;
using fake::Fault;
using testing::ReadFileBytes;

constexpr auto Buffer = static_cast<std::size_t>(FileBufferSize);  // one write-out of a named file

testing::ChildResult RunVelk(const testing::ScopedTempDir& dir, std::vector<std::string> args,
                             const std::vector<Fault>& faults,
                             const std::vector<std::int32_t>& read_sizes = {},
                             const std::string& input = "") {
  const auto body = [&] {
    fake::Reset();
    for (const Fault& fault : faults) {
      fake::Inject(fault);
    }
    fake::DeliverReadsIn(read_sizes);
    args.insert(args.begin(), "velk");
    std::vector<char*> argv;
    for (std::string& word : args) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    RuntimeStartup(static_cast<int>(args.size()), argv.data(), RunDriver);
  };
  return testing::RunForked(body, dir.path(), input);
}

// The statement that a report's check followed: the source line before the
// one addr2line gives for the call of the check.
std::string CheckedStatement(const std::string& address) {
  char before[16];
  std::snprintf(before, sizeof before, "0x%lx", std::stoul(address, nullptr, 16) - 1);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::istringstream place(
      testing::RunChild("/usr/bin/addr2line", {"-i", "-e", self, before}, "/").Stdout);
  std::string file, number;
  std::getline(place, file, ':');
  place >> number;
  std::istringstream source(ReadFileBytes(file));
  std::string line;
  for (int n = 1; n < std::atoi(number.c_str()) && std::getline(source, line); ++n) {
  }
  return line.substr(std::min(line.find_first_not_of(' '), line.size()));
}

// The run ended with the report of `number`, raised by the check after
// `statement` where the build keeps line information.
void ExpectReport(const testing::ChildResult& run, int number, const std::string& statement) {
  EXPECT_EQ(run.ExitStatus, number);
  const std::vector<std::string> addresses = testing::ReportAddresses(run.Stdout, number);
  ASSERT_GE(addresses.size(), 2u);
  if (VELK_LINE_INFO) {
    EXPECT_EQ(CheckedStatement(addresses[0]), statement);
  }
}

const std::string ReadStatement = "ReadLine(state.InputFile, line);";
const std::string WriteStatement = "WriteLine(state.OutputFile, state.Engine.LineBuffer);";
const std::string CloseStatement = "CloseTextFile(state.OutputFile);";

TEST(FaultTest, AReadFaultReportsItAndTheOutputKeepsEveryLineReadBeforeIt) {
  constexpr std::size_t Delivered = 19 * 64;  // reads of 64 bytes; the 20th fails
  std::string input, kept;
  for (int i = 1000; i < 1400; ++i) {
    input += "line " + std::to_string(i) + "\n";
    if (input.size() <= Delivered) {
      kept += "line " + std::to_string(i) + "\r\n";
    }
  }
  const testing::ScopedTempDir dir;
  testing::WriteFileBytes(dir.Join("in.src"), input);
  const auto run = RunVelk(dir, {"in.src"}, {{Call::Read, 20, ErrorReadFault}}, {64});
  ExpectReport(run, 161, ReadStatement);
  EXPECT_EQ(ReadFileBytes(dir.Join("in.PAS")), kept);
}

TEST(FaultTest, AWriteOutThatFailsOrIsTakenShortLosesOnlyItsOwnBytes) {
  // 64-byte lines: 1024 fill a write-out exactly, and the next line's text is what overflows it.
  std::string input, output;
  for (int i = 0; i < 3000; ++i) {
    std::string text = "line " + std::to_string(i);
    text.resize(62, '.');
    input += text + "\n";
    output += text + "\r\n";
  }
  const std::string overflowing = output.substr(2 * Buffer, 62);  // text of the 2049th line
  const struct {
    Fault fault;
    int status;
    std::string statement, kept;
  } cases[] = {
      {{Call::Write, 2, ErrorDiskFull},
       112,
       WriteStatement,
       output.substr(0, Buffer) + overflowing},
      {{Call::Write, 2, ErrorWriteFault},
       160,
       WriteStatement,
       output.substr(0, Buffer) + overflowing},
      {{Call::Write, 2, 0, 1000},
       101,
       WriteStatement,
       output.substr(0, Buffer + 1000) + overflowing},
      {{Call::Write, 3, ErrorDiskFull}, 112, CloseStatement, output.substr(0, 2 * Buffer)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    const testing::ScopedTempDir dir;
    testing::WriteFileBytes(dir.Join("in.src"), input);
    ExpectReport(RunVelk(dir, {"in.src"}, {c.fault}), c.status, c.statement);
    EXPECT_EQ(ReadFileBytes(dir.Join("in.PAS")), c.kept);
  }
}

TEST(FaultTest, AFailedCloseCountsForAFileWrittenOnly) {
  const struct {
    std::vector<Fault> faults;
    int status;  // 0: no report
    std::string kept;
  } cases[] = {{{{Call::Close, 2, ErrorWriteFault}}, 160, "a\r\nb\r\n"},
               {{{Call::Close, 2, ErrorDiskFull}}, 112, "a\r\nb\r\n"},
               {{{Call::Close, 1, ErrorReadFault}}, 0, "a\r\nb\r\n"},
               {{{Call::Write, 1, ErrorDiskFull}, {Call::Close, 2, ErrorWriteFault}}, 112, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    const testing::ScopedTempDir dir;
    testing::WriteFileBytes(dir.Join("in.src"), "a\nb\n");
    const auto run = RunVelk(dir, {"in.src", "in.src"}, c.faults);
    if (c.status != 0) {
      ExpectReport(run, c.status, CloseStatement);
    } else {
      EXPECT_EQ(run.ExitStatus, 0);
      EXPECT_EQ(run.Stdout, "");
    }
    EXPECT_EQ(ReadFileBytes(dir.Join("in.PAS")), c.kept);
  }
}

// An input whose CR LF, long lines and Ctrl-Z fall where reads of `size`
// bytes begin and end, and the output velk makes of it.
std::pair<std::string, std::string> ChunkEdges(std::size_t size) {
  std::string input, output;
  const auto line = [&](const std::string& text, const std::string& end) {
    input += text + end;
    output += text.substr(0, 255) + "\r\n";
  };
  // A line whose end begins at `offset` in a read.
  const auto line_to = [&](std::size_t offset, const std::string& end) {
    line(std::string((offset + size - input.size() % size) % size, 'p'), end);
  };
  line_to(size - 1, "\r\n");  // CR last in a read, LF first in the next
  line_to(size / 2 + size - 1, "\n");
  line(std::string(300, 'L'), "\r\n");  // starts in the middle of a read
  line(std::string(600, 'M'), "\r");
  line(std::string(255, 'a'), "\r\n");
  line(std::string(256, 'b'), "\n");
  line("lf", "\n");
  line("", "\r");  // LF CR: two line ends
  line(std::string("z\x1a\0\xff", 4), "\n");
  line_to(size - 1, "\n");
  input += "\x1a never read\n";  // Ctrl-Z first in a read
  return {input, output};
}

TEST(FaultTest, ReadsOfAnySizeGiveTheSameLines) {
  for (const std::int32_t size : {1, 2, 3, 255, 256, 257}) {
    SCOPED_TRACE(size);
    const auto [input, output] = ChunkEdges(static_cast<std::size_t>(size));
    for (const std::vector<std::int32_t>& read_sizes : {std::vector<std::int32_t>{size}, {}}) {
      const testing::ScopedTempDir dir;
      testing::WriteFileBytes(dir.Join("in.src"), input);
      const auto run = RunVelk(dir, {"in.src"}, {}, read_sizes);
      EXPECT_EQ(run.ExitStatus, 0);
      EXPECT_EQ(ReadFileBytes(dir.Join("in.PAS")), output);
    }
  }
}

}  // namespace
}  // namespace velk
