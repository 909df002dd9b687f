// A file copied through velk's reader, the directive engine and the writer, as a run copies it,
// held to the engine's rules restated plainly below, apart from its code, over the plain splitter
// (fuzz_check.h): each line's outcome and the bytes of the output file. The replay adds inputs
// made to meet the hard cases: names that overlap, names inside names and inside words, long
// names and keys, names of any bytes, defines among the lines they change, lines around the class
// words' edges and past the cut, full tables, outputs past the output buffer.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/directive_engine.h"
#include "fuzz_check.h"
#include "runtime/text_file.h"

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
velk::TextFile reader, writer;
const velk::fuzz::MemoryFile input_file("velk-fuzz-input"), output_file("velk-fuzz-output");

}  // namespace

// Lines of names and pieces of them with bytes around them, now and then padded in front to a
// length around the class words' edges or past the cut, so that a name ends there.
std::string RandomLine(Random& random, const std::vector<std::string>& names) {
  std::string line;
  for (std::size_t n = random.Below(random.OneIn(8) ? 60 : 8); n > 0 && line.size() < 255; --n) {
    const std::string& name = names[random.Below(names.size())];
    const std::size_t piece = random.Below(6);
    line += piece == 0   ? RandomText(random, 3, "\r\n")
            : piece == 1 ? name.substr(random.Below(name.size()))
            : piece == 2 ? name.substr(0, 1 + random.Below(name.size()))
            : piece == 3 ? RandomText(random, 1, "\r\n")
                         : name;
  }
  constexpr std::size_t Lengths[] = {63, 64, 65, 127, 128, 129, 254, 255, 256, 300};
  const std::size_t length = Lengths[random.Below(std::size(Lengths))];
  if (random.OneIn(4) && line.size() < length) {
    line.insert(0, std::string(length - line.size(), ".a_ "[random.Below(4)]));
  }
  return line;
}

// A name: new, an earlier one again or with more around it, one that shares a first eight
// letters and digits with others, now and then one cut to 40.
std::string RandomName(Random& random, const std::vector<std::string>& names) {
  const std::size_t kind = names.empty() ? 5 : random.Below(11);
  const std::string more = RandomText(random, kind < 5 ? 3 : kind == 5 ? 45 : 4, " \t\r\n");
  const std::string base = names.empty() ? more : names[random.Below(names.size())];
  return kind < 2   ? base
         : kind < 4 ? base + more
         : kind < 5 ? more + base
         : kind < 6 ? more
         : kind < 7 ? "Key0key0" + std::string(1 + random.Below(3), "AB1a"[random.Below(4)]) +
                          (random.OneIn(2) ? more : "")
                    : base;
}

// A file: 1250 tables of 1 to 200 rows, the defines among the lines they change, ended by LF,
// CR or CR LF; then outputs whose replaced lines meet the end of the output buffer.
int velk::fuzz::GeneratedInputs() {
  Random random{0x5EED2024};
  for (int t = 0; t < 1250; ++t) {
    std::vector<std::string> names;
    std::string input;
    const char* const end = std::array{"\n", "\n", "\r", "\r\n"}[random.Below(4)];
    const std::size_t rows = random.OneIn(4) ? 1 + random.Below(200) : 1 + random.Below(30);
    for (std::size_t k = 0; k < rows; ++k) {
      // An empty value, a long one (cut to 70), or a short one with an earlier name (folded in).
      const std::string name = RandomName(random, names);
      std::string value = RandomText(random, 5, "\r\n") + (random.OneIn(3) ? " " + name : "");
      value = random.OneIn(4)   ? ""
              : random.OneIn(8) ? std::string(60 + random.Below(20), 'v')
                                : value;
      input += "#define " + name + " " + value + end;
      names.push_back(name.substr(0, 40));
      for (std::size_t n = random.OneIn(3) ? random.Below(4) : 0; n > 0; --n) {
        input += RandomLine(random, names) + end;
      }
    }
    for (int k = 0; k < 80; ++k) {
      input += RandomLine(random, names) + end;
    }
    Test(input);
  }
  // Lines of 100 bytes with their CR LF, then one that makes the output `before` bytes short of
  // the buffer's 64 KiB, then lines with a replacement, the first of them across that edge.
  int count = 1250;
  for (const std::size_t before : {1u, 2u, 3u, 4u, 8u, 30u, 60u, 66u, 70u, 72u, 90u, 200u}) {
    const std::size_t written = 65536 - before, full_lines = written / 100 - 1;
    std::string input = "#define N0 " + std::string(64, 'v') + "\n";
    for (std::size_t k = 0; k < full_lines; ++k) {
      input += std::string(98, 'a') + "\n";
    }
    input += std::string(written - 100 * full_lines - 2, 'b') + "\n";
    input += "head N0 tail, tail\n(N0)\nN0\n";
    Test(input);
    ++count;
  }
  return count;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = velk::fuzz::PlainLines(bytes, 255);
  Model model;
  std::string expected;  // the model's output file
  input_file.Set(bytes);
  velk::BindTextFile(reader, input_file.Name);
  velk::OpenForReading(reader);
  velk::BindTextFile(writer, output_file.Name);
  velk::OpenForWriting(writer);
  Check(velk::TakeIoError() == 0, "open");
  velk::ResetEngine(state);
  // The run's line loop: each line read where it lies, judged and written.
  std::size_t count = 0;
  bool full = false;
  do {
    velk::LineClasses classes;
    const std::string_view line = velk::ReadLineView(reader, 255, velk::LineRanges(state), classes);
    Check(count < lines.size() && line == lines[count], "line read");
    std::string kept;
    const LineOutcome outcome = HandleLine(model, lines[count++], kept);
    const velk::LineVerdict verdict = velk::HandleLine(state, line, classes);
    Check(verdict.Outcome == outcome, "outcome");
    Check(static_cast<std::size_t>(state.Table.DefineCount) == model.Rows.size(), "row count");
    if (outcome == LineOutcome::TableFull) {
      full = true;  // the run ends here
      break;
    }
    if (outcome != LineOutcome::Dropped) {
      velk::WriteLine(writer, verdict.Head, verdict.Value, verdict.Tail);
      expected += kept + "\r\n";
    }
  } while (!velk::AtEndOfFile(reader));
  Check(full || count == lines.size(), "every line read");
  velk::CloseTextFile(reader);
  velk::CloseTextFile(writer);
  Check(velk::TakeIoError() == 0, "close");
  Check(output_file.Bytes() == expected, "output file");
  return 0;
}
