// What the fuzz targets share: a finding, the plain splitter of a text into lines, files in
// memory, and the replay of a target without libFuzzer.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace velk::fuzz {

// Stops the run as a finding, saying what differed.
inline void Check(bool holds, std::string_view what) {
  if (!holds) {
    std::fprintf(stderr, "finding: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
  }
}

inline void Test(const std::string& input) {  // one input, as libFuzzer gives it
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

// The lines of a text, as a plain splitter sees them: a line runs to its line end (LF, CR, or
// CR LF) and keeps its first `capacity` bytes; the text ends at its last byte or where a line
// after the first begins with Ctrl-Z (byte 26); an empty text is one empty line.
inline std::vector<std::string> PlainLines(std::string_view bytes, std::size_t capacity) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  do {
    const std::size_t end = std::min(bytes.find_first_of("\r\n", at), bytes.size());
    lines.emplace_back(bytes.substr(at, std::min(end - at, capacity)));
    at = end + (bytes.substr(end, 2) == "\r\n" ? 2 : 1);
  } while (at < bytes.size() && bytes[at] != '\x1a');
  return lines;
}

// A file in memory that velk's channels open by name (through /proc): its name, and its bytes
// set and read back.
struct MemoryFile {
  explicit MemoryFile(const char* label)
      : Handle(memfd_create(label, 0)),
        Name(std::string("/proc/self/fd/").append(std::to_string(Handle))) {}
  void Set(std::string_view bytes) const {
    Check(ftruncate(Handle, 0) == 0 &&
              pwrite(Handle, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
          "memory file");
  }
  std::string Bytes() const {
    std::string bytes(static_cast<std::size_t>(lseek(Handle, 0, SEEK_END)), '\0');
    Check(pread(Handle, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
          "memory file read back");
    return bytes;
  }
  int Handle;
  std::string Name;
};

// The inputs a target makes for the replay (it may have none), each passed to Test; their count.
[[gnu::weak]] int GeneratedInputs();

}  // namespace velk::fuzz
