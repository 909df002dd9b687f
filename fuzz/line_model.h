// How a text channel cuts bytes into lines, restated plainly: a line runs to
// its line end (LF, CR, or CR LF) and keeps its first `capacity` bytes; the
// text ends at its last byte or where a line after the first begins with
// Ctrl-Z (byte 26); an empty text is one empty line.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velk::model {

inline std::vector<std::string> Lines(std::string_view bytes, std::size_t capacity) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  do {
    const std::size_t end = std::min(bytes.find_first_of("\r\n", at), bytes.size());
    lines.emplace_back(bytes.substr(at, std::min(end - at, capacity)));
    at = end;
    if (at < bytes.size()) {
      const bool cr_lf = bytes.substr(at, 2) == "\r\n";
      at += cr_lf ? 2 : 1;
    }
  } while (at < bytes.size() && bytes[at] != '\x1a');
  return lines;
}

}  // namespace velk::model
