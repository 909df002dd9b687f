// Output names: byte 0 of an input says how many of the next bytes are the
// input name (at most 40); the rest is the extension (at most 4).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/file_opening.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using velk::fuzz::Check;
  if (size == 0) {
    return 0;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view name = bytes.substr(0, data[0] % 41u);
  const std::string_view extension = bytes.substr(name.size(), 4);
  const std::string output(velk::NamingRule(velk::FileName(name), velk::Extension(extension)));
  Check(output.size() <= 40, "length");
  // Kept: the directories and the last component up to its first dot.
  const std::size_t last = name.find_last_of("/\\") + 1;  // npos + 1 is 0
  const std::string_view kept = name.substr(0, name.find('.', last));
  Check(output.substr(0, kept.size()) == kept.substr(0, 40), "kept part");
  const std::string dot = extension.starts_with('.') ? "" : ".";
  Check(output == (std::string(kept) + dot + std::string(extension)).substr(0, 40), "extension");
  if (extension.find_first_of("/\\") == std::string_view::npos) {
    const velk::FileName again(output);
    Check(velk::NamingRule(again, velk::Extension(extension)).View() == output, "named again");
  }
  return 0;
}
