#include "runtime/arguments.h"

#include <algorithm>
#include <utility>

#include "runtime/platform.h"

namespace velk {

namespace {

CountedList argument_list;           // entry 0 is the executable's file name
bool executable_path_known = false;  // entry 0 holds it (or it cannot be had)

constexpr std::size_t ExecutablePathSize = 256;  // 255 bytes of name and a zero byte

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

constexpr char DoubleQuote = '"';
constexpr char SingleQuote = '\'';

char OtherQuote(char quote) { return quote == DoubleQuote ? SingleQuote : DoubleQuote; }

}  // namespace

void BuildArgumentList(int argc, char** argv) {
  argument_list = CountedList();
  executable_path_known = false;
  // Where the system keeps the command line as one text, it is cut here, by
  // the program's own rules; the first word only shows where the second
  // begins.
  if (const char* raw = PlatformCommandLine()) {
    argument_list = SplitCommandLine(raw);
  } else {
    for (int i = 0; i < argc && argv != nullptr; ++i) {
      argument_list.Add(CountedString(argv[i] != nullptr ? argv[i] : ""));
    }
  }
}

std::int32_t ArgumentCount() { return static_cast<std::int32_t>(argument_list.size()) - 1; }

CountedString ArgumentAt(std::int32_t i) {
  if (i < 0 || i > ArgumentCount()) {
    return CountedString();
  }
  // The executable's name costs a system call that most runs never need.
  if (i == 0 && !executable_path_known) {
    executable_path_known = true;
    char path[ExecutablePathSize];
    if (PlatformExecutablePath(path, sizeof path) > 0) {
      argument_list[0] = CountedString(std::string_view(path));
    }
  }
  return argument_list[static_cast<std::size_t>(i)];
}

CountedList SplitCommandLine(std::string_view raw) {
  raw = std::string_view(raw.data(), std::min(raw.size(), raw.find('\0')));
  CountedList words;
  std::size_t at = 0;
  for (;;) {
    while (at < raw.size() && IsBlank(static_cast<unsigned char>(raw[at]))) {
      ++at;
    }
    if (at >= raw.size()) {
      return words;
    }
    CountedString word;
    char quote = 0;  // the quote the word is inside of, or 0
    for (; at < raw.size(); ++at) {
      const char c = raw[at];
      if (quote == 0 && IsBlank(static_cast<unsigned char>(c))) {
        break;
      }
      const bool is_quote = c == DoubleQuote || c == SingleQuote;
      if (!is_quote || quote == OtherQuote(c)) {
        word.Append(c);
      } else if (at + 1 < raw.size() && raw[at + 1] == c) {
        ++at;  // a doubled quote produces nothing
      } else {
        quote = quote == c ? 0 : c;
      }
    }
    words.Add(std::move(word));
  }
}

}  // namespace velk
