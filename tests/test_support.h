// Helpers shared by the tests: a fresh temporary directory, whole-file reads
// and writes, and running a program as a child process.
#pragma once

#include <string>
#include <vector>

namespace velk::testing {

// A new empty directory that is removed with everything in it at the end of
// the scope.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string Join(const std::string& name) const;

 private:
  std::string path_;
};

// The whole contents of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Creates or replaces a file with exactly these bytes.
void WriteFileBytes(const std::string& path, const std::string& bytes);

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

}  // namespace velk::testing
