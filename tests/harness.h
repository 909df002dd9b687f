// The one way the tests run a program and look at what it did: a fresh directory, files in and
// out, and a child held to limits on time, memory and descriptors, of whose output the test
// reads no more than a cap. The programs under test are those this build made, or, through the
// environment, the same programs built for Windows, run under Wine (scripts/test-windows).
#pragma once

#include <string>
#include <vector>

namespace velk::testing {

inline constexpr std::size_t ReadCap = 64u << 20;  // the most read back from a file or a child

// A new empty directory, removed with everything in it at the end of the scope.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Join(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

std::string ReadFile(const std::string& path);  // its first ReadCap bytes; empty when unreadable
void WriteFile(const std::string& path, const std::string& bytes);

// What a child may use: wall-clock time (then it is ended), memory it allocates (under the
// sanitizers, resident memory) and descriptors; a file it writes is held to ReadCap.
struct Limits {
  unsigned Seconds = 60;
  unsigned long MemoryMiB = 1024, Descriptors = 256;
};

struct Result {
  std::string Stdout;           // its first ReadCap bytes; a child that writes more is ended
  int Status = -1, Signal = 0;  // its exit status (-1: none), the signal that ended it (0: none)
};

// Runs command[0] with the rest as arguments in `cwd`, `input` on its standard input.
Result RunChild(const std::vector<std::string>& command, const std::string& cwd,
                const std::string& input = "", const Limits& limits = {});

// A program under test: `built`, unless the environment names another in `variable`
// (VELK_TEST_VELK, VELK_TEST_PROBE), with VELK_TEST_RUNNER, VELK_TEST_SYSTEM=windows and
// VELK_TEST_ADDR2LINE saying how it is run and its reports read.
struct Program {
  Program(const std::string& built, const char* variable);
  std::vector<std::string> Command(const std::vector<std::string>& args) const;
  std::string File, Runner, Addr2Line;
  bool Windows;  // cases only POSIX can give are skipped
};

// The addresses of lines 2 and on of a run-time error report of `number`, checking that the bytes
// are exactly such a report: CR LF after every line, the same address, in 8 hexadecimal digits,
// on lines 1 and 2, one address a line, and an empty last line.
std::vector<std::string> ReportAddresses(const std::string& bytes, int number);

}  // namespace velk::testing
