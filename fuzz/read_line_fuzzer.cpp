// Bytes read as lines from a named file, in reads of sizes the input chooses, held to the plain
// splitter (fuzz_check.h), and each line's classes to those the plain classifier gives its bytes
// (with ranges that change from line to line, as a define can change them). Input: byte 0 is the
// capacity, byte 1 the number of read sizes (0..7), two bytes for each size (1..1024); the rest is
// the file. The target is linked with read() wrapped (-Wl,--wrap=read), so that reads of that
// file deliver at most those sizes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "runtime/text_file.h"

namespace {

using velk::fuzz::Check;

const velk::fuzz::MemoryFile file("velk-fuzz-input");

velk::TextFile reader;
std::vector<std::size_t> read_sizes;  // the most each read of the file delivers, in turn
std::size_t reads = 0;                // reads of the file so far

}  // namespace

// Lines of every length around the class words' edges (63-65, 127-129 bytes) and past the
// capacity, with every kind of line end, a CR alone among them, read in pieces that end on a CR
// now and then.
int velk::fuzz::GeneratedInputs() {
  int count = 0;
  for (const std::size_t length : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 129u, 254u, 255u, 300u}) {
    for (const char* end : {"\n", "\r", "\r\n"}) {
      for (const unsigned read_size : {0u, 1u, 64u, 65u, 130u, 257u}) {
        // Capacity 255; no read size, or one (that byte pair read as the size less one).
        std::string input = read_size == 0
                                ? std::string{'\xff', '\0'}
                                : std::string{'\xff', '\1', static_cast<char>(read_size - 1),
                                              static_cast<char>((read_size - 1) >> 8)};
        for (std::size_t k = 0; k < 5; ++k) {
          input += std::string(length + k % 2, static_cast<char>('a' + k)) + end + "x_1\r";
        }
        Test(input);
        ++count;
      }
    }
  }
  return count;
}

extern "C" ssize_t __real_read(int handle, void* buffer, std::size_t size);

extern "C" ssize_t __wrap_read(int handle, void* buffer, std::size_t size) {
  if (handle == reader.SystemHandle && !read_sizes.empty()) {
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
  file.Set(bytes);
  velk::BindTextFile(reader, file.Name);
  velk::OpenForReading(reader);
  Check(velk::TakeIoError() == 0, "open");
  const std::vector<std::string> expected = velk::fuzz::PlainLines(bytes, data[0]);
  std::vector<std::string> lines;
  do {
    // Now no ranges, now the capacity byte and the underscore.
    const velk::ByteRanges ranges{lines.size() % 3 != 0, {data[0], '_'}, {3, 0}};
    velk::LineClasses classes;
    const std::string_view line = velk::ReadLineView(reader, capacity, ranges, classes);
    Check(velk::IoErrorCode == 0, "read");
    // The line's classes against the plain classifier's of its bytes alone.
    std::uint64_t plain[3][velk::ClassWords(velk::MaxBoundedCapacity)] = {};
    velk::ClassifyBytesPlain(reinterpret_cast<const unsigned char*>(line.data()), 0, line.size(),
                             ranges, {plain[0], plain[1], plain[2]});
    for (std::size_t k = 0; k < line.size(); ++k) {
      const std::size_t bit = classes.First + k;
      Check((classes.Words[bit / 64] >> bit % 64 & 1) == (plain[1][k / 64] >> k % 64 & 1),
            "letter or digit");
      Check((classes.InRanges[bit / 64] >> bit % 64 & 1) == (plain[2][k / 64] >> k % 64 & 1),
            "in a range");
    }
    lines.emplace_back(line);
  } while (!velk::AtEndOfFile(reader) && lines.size() <= expected.size());
  Check(lines == expected, "lines");
  velk::CloseTextFile(reader);
  Check(velk::TakeIoError() == 0, "close");
  return 0;
}
