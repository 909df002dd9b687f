// Writes a deterministic, source-like input for velk and its peers:
//
//   velk_corpus SIZE SEED DEFINES CORPUS SYMBOLS
//
// CORPUS gets a header of DEFINES "#define " lines (some without a value, some
// whose value uses earlier names), then text lines, up to SIZE bytes, mixed
// with nested "#ifdef "/"#ifndef " blocks over defined and undefined names.
// Text lines use the names as whole words and inside longer words (MAXIMUM,
// myMAX, MAX7, MAX_LIMIT, which velk's rule counts as whole). The number of
// name uses per line does not depend on DEFINES, so runs with few and many
// defines do the same work per line apart from finding the names.
//
// SYMBOLS gets the same symbols as unifdef options, one per line: -DNAME=value
// (or -DNAME) for each define and -UNAME for each undefined name the blocks
// test. Lines end with LF; no line is longer than 255 bytes.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t MaxLineLength = 255;
constexpr std::size_t MaxDepth = 4;

// splitmix64: the same sequence on every machine and compiler.
struct Random {
  std::uint64_t state;

  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  bool Percent(std::size_t p) { return Below(100) < p; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }
};

const std::vector<std::string> NameParts = {
    "MAX",  "MIN",  "BUF",   "SIZE",  "LEN",   "COUNT", "FLAG", "DEBUG",   "HAVE",  "USE",
    "CFG",  "OPT",  "LIMIT", "MODE",  "LEVEL", "PORT",  "BASE", "ADDR",    "TABLE", "STACK",
    "HEAP", "PAGE", "LINE",  "WIDTH", "DEPTH", "RETRY", "KEY",  "TIMEOUT", "NODE",  "LIST",
    "ITEM", "USER", "FILE",  "PATH",  "NAME",  "VER",   "FAST", "CHECK",   "SLOW",  "ERR"};

const std::vector<std::string> Words = {
    "count", "index",  "buffer", "value", "result", "node",  "next",   "size",  "data",
    "ptr",   "len",    "i",      "j",     "total",  "state", "offset", "item",  "entry",
    "table", "return", "if",     "while", "for",    "int",   "char",   "const", "static",
    "begin", "end",    "var",    "x",     "y",      "limit", "flags",  "mask",  "width"};

const std::vector<std::string> Operators = {" = ", " + ", " - ", " * ",  " < ", " == ", " && ",
                                            "(",   ")",   "[",   "]",    ", ",  "->",   ".",
                                            ";",   " { ", "}",   " := ", ": "};

// Distinct names made of one to three parts, a few in mixed case; every
// DEFINES-run starts with the same names, so adding defines only adds names.
std::vector<std::string> MakeNames(Random& random, std::size_t count, std::string_view prefix,
                                   std::set<std::string>& taken) {
  std::vector<std::string> names;
  for (std::size_t i = 0; names.size() < count; ++i) {
    std::string name(prefix);
    const std::size_t parts = i < NameParts.size() && prefix.empty() ? 1 : 1 + random.Below(3);
    for (std::size_t k = 0; k < parts; ++k) {
      const std::string& part =
          parts == 1 && prefix.empty() ? NameParts[i % NameParts.size()] : random.Pick(NameParts);
      name += (k == 0 ? "" : "_") + part;
    }
    if (random.Percent(10)) {
      name = "k" + name;  // a constant in the other naming style
    }
    if (random.Percent(15)) {
      name += std::to_string(random.Below(10));
    }
    if (taken.insert(name).second) {
      names.push_back(name);
    }
  }
  return names;
}

struct Symbols {
  std::vector<std::string> defined;
  std::vector<std::string> values;  // the value of each defined name, maybe empty
  std::vector<std::string> undefined;
};

// The value of define `row`: empty now and then (never for the first few,
// so that MAX and friends are replaced), a number, or an expression over a
// name defined before it.
std::string MakeValue(Random& random, const Symbols& symbols, std::size_t row) {
  const std::size_t kind = random.Below(10);
  if (kind < 3 && row >= 4) {
    return "";
  }
  const std::string number = std::to_string(random.Below(5000));
  if (kind < 7 || row == 0) {
    return number;
  }
  return "(" + symbols.defined[random.Below(row)] + " * " + number + ")";
}

// One use of a name: mostly alone, otherwise inside or beside a longer word.
std::string NameUse(Random& random, const std::string& name) {
  switch (random.Below(8)) {
    case 0:
      return name + "IMUM";
    case 1:
      return "my" + name;
    case 2:
      return name + std::to_string(random.Below(10));
    case 3:
      return name + "_LIMIT";
    default:
      return name;
  }
}

std::string TextLine(Random& random, const Symbols& symbols) {
  if (random.Percent(6)) {
    return "";
  }
  std::string line(random.Below(4) * 2, ' ');
  if (random.Percent(10)) {
    line += "// ";
  }
  const std::size_t tokens = 3 + random.Below(10);
  // About 0.8 name uses per line, whatever the number of names.
  std::size_t uses = random.Percent(40) ? 0 : random.Percent(67) ? 1 : 2;
  for (std::size_t t = 0; t < tokens; ++t) {
    if (random.Below(tokens - t) < uses) {  // the uses fall anywhere in the line
      --uses;
      line +=
          NameUse(random, random.Pick(random.Percent(90) ? symbols.defined : symbols.undefined));
    } else if (random.Percent(20)) {
      line += std::to_string(random.Below(1000));
    } else {
      line += random.Pick(Words);
    }
    line += random.Pick(Operators);
  }
  if (random.Percent(3)) {
    line += " \"" + std::string(40 + random.Below(200), 'q') + "\"";  // now and then a long line
  }
  line.resize(std::min(line.size(), MaxLineLength));
  return line;
}

struct Output {
  std::FILE* file;
  std::uint64_t written = 0;

  void Put(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    written += line.size() + 1;
  }
};

void WriteBody(Random& random, const Symbols& symbols, Output& out, std::uint64_t size) {
  std::size_t depth = 0;
  while (out.written < size) {
    const std::size_t roll = random.Below(100);
    if (roll < 3 && depth < MaxDepth) {
      // Three blocks in four hold; defined and undefined names alike.
      const bool holds = random.Percent(75);
      const bool on_defined = random.Percent(50);
      const std::string& name = random.Pick(on_defined ? symbols.defined : symbols.undefined);
      out.Put((holds == on_defined ? "#ifdef " : "#ifndef ") + name);
      ++depth;
    } else if (roll < 6 && depth > 0) {
      out.Put(random.Percent(50) ? "#endif" : "#endif /* block */");
      --depth;
    } else {
      out.Put(TextLine(random, symbols));
    }
  }
  for (; depth > 0; --depth) {
    out.Put("#endif");
  }
}

bool ParseNumber(const char* text, std::uint64_t& value) {
  const std::string_view view(text);
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
  return error == std::errc() && end == view.data() + view.size();
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t size = 0, seed = 0, defines = 0;
  if (argc != 6 || !ParseNumber(argv[1], size) || !ParseNumber(argv[2], seed) ||
      !ParseNumber(argv[3], defines) || defines < 1 || defines > 200) {
    std::fputs("usage: velk_corpus SIZE SEED DEFINES(1..200) CORPUS SYMBOLS\n", stderr);
    return 2;
  }
  Random random{seed};
  std::set<std::string> taken;
  Symbols symbols;
  symbols.defined = MakeNames(random, defines, "", taken);
  symbols.undefined = MakeNames(random, 8 + defines / 4, "NO_", taken);

  Output out{std::fopen(argv[4], "wb")};
  std::FILE* options = std::fopen(argv[5], "wb");
  if (out.file == nullptr || options == nullptr) {
    std::perror("velk_corpus");
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out.file, buffer, _IOFBF, sizeof buffer);
  out.Put("// generated input: " + std::to_string(defines) + " defines");
  for (std::size_t row = 0; row < symbols.defined.size(); ++row) {
    const std::string value = MakeValue(random, symbols, row);
    symbols.values.push_back(value);
    out.Put("#define " + symbols.defined[row] + (value.empty() ? "" : " " + value));
  }
  WriteBody(random, symbols, out, size);
  for (std::size_t k = 0; k < symbols.defined.size(); ++k) {
    const std::string& value = symbols.values[k];
    std::fprintf(options, "-D%s%s%s\n", symbols.defined[k].c_str(), value.empty() ? "" : "=",
                 value.c_str());
  }
  for (const std::string& name : symbols.undefined) {
    std::fprintf(options, "-U%s\n", name.c_str());
  }
  const bool closed = std::fclose(out.file) == 0;
  return std::fclose(options) == 0 && closed ? 0 : 1;
}
