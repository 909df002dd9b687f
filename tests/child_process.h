// Running a program under test as a child process (POSIX hosts). The
// whole-program tests run the binaries this build made, or, through the
// environment, the same programs built for Windows and run under Wine:
//
//   VELK_TEST_SYSTEM=windows  VELK_TEST_RUNNER=/usr/lib/wine/wine64
//   VELK_TEST_VELK=.../velk.exe  VELK_TEST_PROBE=.../velk_runtime_probe.exe
//   VELK_TEST_ADDR2LINE=x86_64-w64-mingw32-addr2line
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::testing {

// A program and how it is started.
struct ProgramUnderTest {
  std::string Program;                  // its file
  std::string Runner;                   // a program that runs it (an emulator), or empty
  bool Windows = false;                 // a Windows program: skip the cases only POSIX can give
  std::string Addr2Line = "addr2line";  // resolves the addresses of its reports
};

// `built` unless the environment names another program in `variable`.
ProgramUnderTest ProgramFromEnvironment(const std::string& built, const char* variable);

struct ChildResult {
  std::string Stdout;   // everything the child wrote on its standard output
  int ExitStatus = -1;  // the exit status, or -1 when it did not exit
  int TermSignal = 0;   // the signal that ended it, or 0
};

// Runs `program` with `args` (argv[1]...) in directory `cwd`, feeding `input`
// on its standard input (then the end of input) and collecting its standard
// output. Standard error goes to the test's own. A child still running after
// `limit_seconds` is ended by SIGALRM (a safety net against hangs, not a
// timing check).
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input = "", int limit_seconds = 30);

// The same for a program under test, through its runner if it has one.
ChildResult RunChild(const ProgramUnderTest& program, const std::vector<std::string>& args,
                     const std::string& cwd, const std::string& input = "", int limit_seconds = 30);

// Runs `body` in a forked copy of the test process, set up as RunChild sets
// up a program: in `cwd`, `input` on its standard input, its standard output
// collected. `body` must end the process (with _exit, or by becoming another
// program); a body that returns ends it with status 127.
ChildResult RunForked(const std::function<void()>& body, const std::string& cwd,
                      const std::string& input = "", int limit_seconds = 30);

// A child that runs beside the test: its standard input and output are pipes.
class BackgroundChild {
 public:
  BackgroundChild(const ProgramUnderTest& program, const std::vector<std::string>& args,
                  const std::string& cwd);
  ~BackgroundChild();
  BackgroundChild(const BackgroundChild&) = delete;
  BackgroundChild& operator=(const BackgroundChild&) = delete;

  // The next line the child writes (without its line end), or what it wrote
  // before its output ended.
  std::string ReadLine();
  // Writes bytes to its standard input; false once it reads no more (the
  // test must ignore SIGPIPE).
  bool Write(std::string_view bytes);
  // Sends it a signal.
  void Signal(int signal_number);
  // Ends its input, then waits for it to end; gives what it wrote after the
  // lines read and how it ended.
  ChildResult Finish();

 private:
  int pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

}  // namespace velk::testing
