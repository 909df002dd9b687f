// Lines (separated by LF) through the directive engine, held to its rules restated plainly
// below, apart from its code. The replay adds inputs made to meet the matcher's hard cases: names
// that overlap, names inside names and inside words, long names, full tables.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/directive_engine.h"
#include "fuzz_check.h"

namespace {

using velk::LineOutcome;
using velk::fuzz::Check;
constexpr std::size_t npos = std::string::npos;

// A row's name keeps 40 bytes, its value 70, with earlier rows' values folded in.
struct Row {
  std::string Name, Value;
};

struct Model {
  std::vector<Row> Rows;  // at most 200, in order of definition
  bool Active = true;
  std::uint32_t Depth = 0, SkipDepth = 0;  // nesting, wrapping around; where the false block began
};

const std::string_view Words = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The name after the blanks and tabs from `from` on, up to the next blank or tab; where it ends.
std::pair<std::string, std::size_t> NameFrom(const std::string& line, std::size_t from) {
  const std::size_t begin = std::min(line.find_first_not_of(" \t", from), line.size());
  const std::size_t end = std::min(line.find_first_of(" \t", begin), line.size());
  return {line.substr(begin, end - begin), end};
}

// The row's value in place of the first occurrence of its name, when that one is a whole word;
// the result keeps `limit` bytes.
bool Replace(std::string& text, const Row& row, std::size_t limit) {
  const std::size_t at = row.Name.empty() || row.Value.empty() ? npos : text.find(row.Name);
  const std::size_t after = at + row.Name.size();
  if (at == npos || (at > 0 && Words.find(text[at - 1]) != npos) ||
      (after < text.size() && Words.find(text[after]) != npos)) {
    return false;
  }
  text = (text.substr(0, at) + row.Value + text.substr(after)).substr(0, limit);
  return true;
}

// Appends a row, as a "#define " does; false when 200 are there.
bool Define(Model& model, std::string_view name, std::string_view value) {
  if (model.Rows.size() == 200) {
    return false;
  }
  Row row{std::string(name.substr(0, 40)), std::string(value.substr(0, 70))};
  for (const Row& earlier : model.Rows) {
    Replace(row.Value, earlier, 70);
  }
  model.Rows.push_back(row);
  return true;
}

// One line as read; `kept` gets the line to write when it is kept (with a replacement or not).
LineOutcome HandleLine(Model& model, std::string_view read, std::string& kept) {
  const std::string line(read.substr(0, 255));
  if (line.starts_with("#define ")) {
    const auto [name, end] = NameFrom(line, 8);
    const std::size_t value = std::min(line.find_first_not_of(" \t", end), line.size());
    return name.empty() || Define(model, name, line.substr(value)) ? LineOutcome::Dropped
                                                                   : LineOutcome::TableFull;
  }
  const bool negated = line.starts_with("#ifndef ");
  if (line.starts_with("#ifdef ") || negated) {
    ++model.Depth;
    const std::string name = NameFrom(line, negated ? 8 : 7).first.substr(0, 40);
    const bool defined = std::any_of(model.Rows.begin(), model.Rows.end(),
                                     [&](const Row& row) { return row.Name == name; });
    if (model.Active && !name.empty() && defined == negated) {
      model.Active = false;
      model.SkipDepth = model.Depth;
    }
    return LineOutcome::Dropped;
  }
  if (line.starts_with("#endif")) {
    model.Active = model.Active || model.SkipDepth == model.Depth;
    model.SkipDepth = model.SkipDepth == model.Depth ? 0 : model.SkipDepth;
    --model.Depth;
    return LineOutcome::Dropped;
  }
  kept = line;
  const bool replaced = std::any_of(model.Rows.begin(), model.Rows.end(),
                                    [&](const Row& row) { return Replace(kept, row, 255); });
  return !model.Active ? LineOutcome::Dropped : replaced ? LineOutcome::Replace : LineOutcome::Keep;
}

// splitmix64, so that a seed means the same inputs everywhere.
struct Random {
  std::uint64_t state;
  std::size_t Below(std::size_t n) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<std::size_t>((z ^ (z >> 31)) % n);
  }
  bool OneIn(std::size_t n) { return Below(n) == 0; }
};

// 1 to `most` bytes, mostly of a few, so that names overlap and meet often (letters and digits,
// the underscore and other punctuation, zero and high bytes); never one of `not_in`.
std::string RandomText(Random& random, std::size_t most, std::string_view not_in) {
  std::string text(1 + random.Below(most), ' ');
  for (char& c : text) {
    c = random.OneIn(12) ? static_cast<char>(random.Below(256))
                         : std::string_view("AAB1a_(.\0\x80\xff", 11)[random.Below(11)];
    c = not_in.find(c) == npos ? c : 'x';
  }
  return text;
}

velk::EngineState state;  // large: one for the whole fuzzing run, reset for each input

// A line as the reader hands it over: in a buffer with bytes after it, with the classes of its
// bytes made with the ranges the engine asks for.
struct ReadLine {
  unsigned char bytes[velk::MaxBoundedCapacity + velk::ReadSlack] = {};
  std::uint64_t classes[3][velk::ClassWords(velk::MaxBoundedCapacity)] = {};
  std::string_view Set(std::string_view line) {
    line = line.substr(0, velk::MaxBoundedCapacity);
    std::copy(line.begin(), line.end(), bytes);
    velk::ClassifyBytes(bytes, 0, line.size(), velk::LineRanges(state),
                        {classes[0], classes[1], classes[2]});
    return std::string_view(reinterpret_cast<const char*>(bytes), line.size());
  }
  velk::LineClasses Classes() const { return {classes[1], classes[2], 0}; }
} read_line;

}  // namespace

// 1250 tables of 1 to 200 rows, each with 80 lines.
int velk::fuzz::GeneratedInputs() {
  Random random{0x5EED2024};
  for (int t = 0; t < 1250; ++t) {
    std::vector<std::string> names;
    std::string input;
    const std::size_t rows = random.OneIn(4) ? 1 + random.Below(200) : 1 + random.Below(30);
    for (std::size_t k = 0; k < rows; ++k) {
      // A new name, an earlier one again or with more around it, now and then one cut to 40;
      // an empty value, a long one (cut to 70), or a short one with an earlier name (folded in).
      const std::size_t kind = names.empty() ? 5 : random.Below(10);
      const std::string more = RandomText(random, kind < 5 ? 3 : kind == 5 ? 45 : 4, " \t\n");
      const std::string base = names.empty() ? more : names[random.Below(names.size())];
      const std::string name = kind < 2   ? base
                               : kind < 4 ? base + more
                               : kind < 5 ? more + base
                                          : more;
      std::string value = RandomText(random, 5, "\n") + (random.OneIn(3) ? " " + base : "");
      value = random.OneIn(4)   ? ""
              : random.OneIn(8) ? std::string(60 + random.Below(20), 'v')
                                : value;
      input += "#define " + name + " " + value + "\n";
      names.push_back(name.substr(0, 40));
    }
    for (int k = 0; k < 80; ++k) {  // pieces of names with bytes around them
      std::string line;
      for (std::size_t n = random.Below(random.OneIn(8) ? 60 : 8); n > 0 && line.size() < 255;
           --n) {
        const std::string& name = names[random.Below(names.size())];
        const std::size_t piece = random.Below(6);
        line += piece == 0   ? RandomText(random, 3, "\n")
                : piece == 1 ? name.substr(random.Below(name.size()))
                : piece == 2 ? name.substr(0, 1 + random.Below(name.size()))
                : piece == 3 ? RandomText(random, 1, "\n")
                             : name;
      }
      input += line.substr(0, 255) + "\n";
    }
    Test(input);
  }
  return 1250;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velk::ResetEngine(state);
  Model model;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::size_t end = 0; end != npos; text.remove_prefix(end + 1)) {
    end = text.find('\n');
    const std::string_view line = read_line.Set(text.substr(0, end));
    std::string kept;
    const velk::LineVerdict verdict = velk::HandleLine(state, line, read_line.Classes());
    Check(verdict.Outcome == HandleLine(model, line, kept), "outcome");
    Check(static_cast<std::size_t>(state.Table.DefineCount) == model.Rows.size(), "row count");
    if (verdict.Outcome == LineOutcome::TableFull) {
      return 0;  // the run ends here
    }
    const std::string written =
        std::string(verdict.Head).append(verdict.Value).append(verdict.Tail);
    Check(verdict.Outcome == LineOutcome::Dropped || written == kept, "kept line");
  }
  return 0;
}
