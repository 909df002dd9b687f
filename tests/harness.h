// The one way the tests run a program and look at what it did: a fresh directory, files in and
// out, and a child process held to limits on time, memory and descriptors, of whose output the
// test reads no more than a cap. The whole-program tests run the programs this build made, or,
// through the environment, the same programs built for Windows and run under Wine:
//   VELK_TEST_SYSTEM=windows VELK_TEST_RUNNER=/usr/lib/wine/wine64 VELK_TEST_VELK=.../velk.exe
//   VELK_TEST_PROBE=.../velk_runtime_probe.exe VELK_TEST_ADDR2LINE=x86_64-w64-mingw32-addr2line
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

// What a child may use. Memory is what it allocates (in a sanitized build, the sanitizer's own
// limit on resident memory); a file it writes is held to ReadCap too.
struct Limits {
  unsigned Seconds = 60;  // wall-clock time, then it is ended
  unsigned long MemoryMiB = 1024;
  unsigned long Descriptors = 256;
};

struct Result {
  std::string Stdout;  // its first ReadCap bytes; a child that writes more is ended
  int Status = -1;     // the exit status, -1 when it did not exit
  int Signal = 0;      // the signal that ended it, or 0
};

// Runs command[0] with the rest as arguments in `cwd`, with `input` on its standard input; its
// standard error goes to the test's own.
Result RunChild(const std::vector<std::string>& command, const std::string& cwd,
                const std::string& input = "", const Limits& limits = {});

// A program under test: the one built, unless the environment names another in `variable`.
struct Program {
  Program(const std::string& built, const char* variable);
  std::vector<std::string> Command(const std::vector<std::string>& args) const;
  std::string File;
  std::string Runner;     // an emulator that runs it, or empty
  bool Windows;           // cases only POSIX can give are skipped
  std::string Addr2Line;  // resolves the addresses of its reports
};

// The addresses of lines 2 and on of a run-time error report of `number` (the failing point, then
// one per frame), 8 hexadecimal digits each, checking that the bytes are exactly such a report:
// CR LF after every line, the same address on lines 1 and 2, and an empty last line.
std::vector<std::string> ReportAddresses(const std::string& bytes, int number);

}  // namespace velk::testing
