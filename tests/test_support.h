// Helpers shared by the tests: a fresh temporary directory and whole-file
// reads and writes.
#pragma once

#include <string>

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

}  // namespace velk::testing
