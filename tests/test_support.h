// Helpers shared by the tests: a fresh temporary directory and whole-file
// reads and writes.
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

// The addresses of lines 2 and on of a run-time error report (the failing
// point, then one line per frame), each as its 8 hexadecimal digits. Expects
// the bytes to be exactly such a report of error `number`: CR LF after every
// line, the same address on lines 1 and 2, and an empty last line.
std::vector<std::string> ReportAddresses(const std::string& bytes, int number);

}  // namespace velk::testing
