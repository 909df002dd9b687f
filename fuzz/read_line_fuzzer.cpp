// Bytes read as lines from a named file, in reads of sizes the input chooses, held to the plain
// splitter below, and each line's classes to the bytes it holds (with ranges that change from line
// to line, as a define can change them). Input: byte 0 is the capacity, byte 1 the number of read
// sizes (0..7), two bytes for each size (1..1024); the rest is the file. The target is linked with
// read() wrapped
// (-Wl,--wrap=read), so that reads of that file deliver at most those sizes.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "runtime/text_file.h"

namespace {

// A line runs to its line end (LF, CR, or CR LF) and keeps its first `capacity` bytes; the text
// ends at its last byte or where a line after the first begins with Ctrl-Z (byte 26); an empty
// text is one empty line.
std::vector<std::string> Lines(std::string_view bytes, std::size_t capacity) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  do {
    const std::size_t end = std::min(bytes.find_first_of("\r\n", at), bytes.size());
    lines.emplace_back(bytes.substr(at, std::min(end - at, capacity)));
    at = end + (bytes.substr(end, 2) == "\r\n" ? 2 : 1);
  } while (at < bytes.size() && bytes[at] != '\x1a');
  return lines;
}

using velk::fuzz::Check;

// The file: a descriptor of memory, opened by name through /proc.
const int memory_file = memfd_create("velk-fuzz-input", 0);
const std::string memory_file_name =
    std::string("/proc/self/fd/").append(std::to_string(memory_file));

velk::TextFile input;
std::vector<std::size_t> read_sizes;  // the most each read of the file delivers, in turn
std::size_t reads = 0;                // reads of the file so far

}  // namespace

extern "C" ssize_t __real_read(int handle, void* buffer, std::size_t size);

extern "C" ssize_t __wrap_read(int handle, void* buffer, std::size_t size) {
  if (handle == input.SystemHandle && !read_sizes.empty()) {
    size = std::min(size, read_sizes[reads++ % read_sizes.size()]);
  }
  return __real_read(handle, buffer, size);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || 2 + 2 * std::size_t{data[1] % 8u} > size) {
    return 0;
  }
  const std::int32_t capacity = data[0];
  read_sizes.clear();
  reads = 0;
  std::size_t at = 2;
  for (int i = 0; i < data[1] % 8; ++i, at += 2) {
    read_sizes.push_back(1 + static_cast<std::size_t>(data[at] | data[at + 1] << 8) % 1024);
  }
  const std::string bytes(reinterpret_cast<const char*>(data + at), size - at);
  Check(ftruncate(memory_file, 0) == 0 && pwrite(memory_file, bytes.data(), bytes.size(), 0) ==
                                              static_cast<ssize_t>(bytes.size()),
        "memory file");
  velk::BindTextFile(input, memory_file_name);
  velk::OpenForReading(input);
  Check(velk::TakeIoError() == 0, "open");
  const std::vector<std::string> expected = Lines(bytes, data[0]);
  std::vector<std::string> lines;
  do {
    // Now no ranges, now the capacity byte and the underscore.
    const velk::ByteRanges ranges{lines.size() % 3 != 0, {data[0], '_'}, {3, 0}};
    velk::LineClasses classes;
    const std::string_view line = velk::ReadLineView(input, capacity, ranges, classes);
    Check(velk::IoErrorCode == 0, "read");
    for (std::size_t k = 0; k < line.size(); ++k) {
      const auto c = static_cast<unsigned char>(line[k]);
      const std::size_t bit = classes.First + k;
      const bool word = (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
      const bool in_range =
          ranges.Any && (static_cast<unsigned char>(c - data[0]) <= 3 || c == '_');
      Check((classes.Words[bit / 64] >> bit % 64 & 1) == word, "letter or digit");
      Check((classes.InRanges[bit / 64] >> bit % 64 & 1) == in_range, "in a range");
    }
    lines.emplace_back(line);
  } while (!velk::AtEndOfFile(input) && lines.size() <= expected.size());
  Check(lines == expected, "lines");
  velk::CloseTextFile(input);
  Check(velk::TakeIoError() == 0, "close");
  return 0;
}
