// Bytes read as lines from a named file, in reads of sizes the input
// chooses (through the fake platform layer of the tests), held to the plain
// splitter of line_model.h. Input: byte 0 is the capacity (0..255), byte 1
// the number of read sizes (0..7), two bytes for each size (1..1024); the
// rest is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "fuzz_check.h"
#include "line_model.h"
#include "runtime/text_file.h"

namespace {

using velk::fuzz::Check;

// The file: a descriptor of memory, opened by name through /proc.
const int memory_file = memfd_create("velk-fuzz-input", 0);
const std::string memory_file_name = "/proc/self/fd/" + std::to_string(memory_file);

velk::TextFile input;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || 2 + 2 * std::size_t{data[1] % 8u} > size) {
    return 0;
  }
  const std::int32_t capacity = data[0];
  std::vector<std::int32_t> read_sizes;
  std::size_t at = 2;
  for (int i = 0; i < data[1] % 8; ++i, at += 2) {
    read_sizes.push_back(1 + (data[at] | data[at + 1] << 8) % 1024);
  }
  const std::string bytes(reinterpret_cast<const char*>(data + at), size - at);
  Check(ftruncate(memory_file, 0) == 0 && pwrite(memory_file, bytes.data(), bytes.size(), 0) ==
                                              static_cast<ssize_t>(bytes.size()),
        "memory file");
  velk::fake::Reset();
  velk::fake::DeliverReadsIn(read_sizes);
  velk::BindTextFile(input, memory_file_name);
  velk::OpenForReading(input);
  Check(velk::TakeIoError() == 0, "open");
  const std::vector<std::string> expected = velk::model::Lines(bytes, data[0]);
  std::vector<std::string> lines;
  do {
    char chars[255];
    lines.emplace_back(chars, static_cast<std::size_t>(velk::ReadLineInto(input, chars, capacity)));
    Check(velk::IoErrorCode == 0, "read");
  } while (!velk::AtEndOfFile(input) && lines.size() <= expected.size());
  Check(lines == expected, "lines");
  velk::CloseTextFile(input);
  Check(velk::TakeIoError() == 0, "close");
  return 0;
}
