// Raw command lines cut into words, held to the rules restated here: bytes
// 1 to 32 separate words outside quotes; a double or single quote is
// dropped and opens or closes a quoted part, except inside quotes of the
// other kind, where it is an ordinary byte; a quote doubled where it would
// open or close produces nothing; a zero byte ends the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "runtime/arguments.h"

namespace {

enum class Place : std::uint8_t { Between, Plain, InDouble, InSingle };

std::vector<std::string> Words(std::string_view raw) {
  raw = raw.substr(0, raw.find('\0'));
  std::vector<std::string> words;
  Place place = Place::Between;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    const bool blank = static_cast<unsigned char>(c) <= ' ';
    if (place == Place::Between && blank) {
      continue;
    }
    if (place == Place::Between) {
      words.emplace_back();
      place = Place::Plain;
    }
    if (place == Place::Plain && blank) {
      place = Place::Between;
    } else if ((c != '"' && c != '\'') || (place == Place::InDouble && c == '\'') ||
               (place == Place::InSingle && c == '"')) {
      words.back() += c;
    } else if (i + 1 < raw.size() && raw[i + 1] == c) {
      ++i;
    } else if (place == Place::Plain) {
      place = c == '"' ? Place::InDouble : Place::InSingle;
    } else {
      place = Place::Plain;
    }
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const velk::CountedList split = velk::SplitCommandLine(raw);
  const std::vector<std::string> words(split.begin(), split.end());
  velk::fuzz::Check(words == Words(raw), "words");
  return 0;
}
