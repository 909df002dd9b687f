// The one-scan substitution against the plain row-by-row rule, on random
// tables and lines made to hit names, names inside names and names inside words.
#include "engine/symbol_matcher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/directive_engine.h"

namespace velk {
namespace {

constexpr std::uint64_t DefaultSeed = 0x5EED2024;
constexpr int TableCount = 1250;
constexpr int LinesPerTable = 80;  // 100,000 cases

// The rule as it reads: each row in order, its name's first occurrence only,
// the first whole word wins; the result is cut to 255 bytes.
std::string ReferenceSubstitute(const DefineTable& table, std::string line) {
  const auto word = [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  };
  for (std::int32_t k = 0; k < table.DefineCount; ++k) {
    const std::string_view name = table.Rows[k].Name.View();
    const std::string_view value = table.Rows[k].Value.View();
    const std::size_t p = name.empty() ? std::string::npos : line.find(name);
    if (value.empty() || p == std::string::npos) {
      continue;
    }
    const std::size_t after = p + name.size();
    if ((p == 0 || !word(static_cast<unsigned char>(line[p - 1]))) &&
        (after == line.size() || !word(static_cast<unsigned char>(line[after])))) {
      return line.replace(p, name.size(), value).substr(0, 255);
    }
  }
  return line;
}

std::uint64_t SeedFromEnvironment() {
  const char* text = std::getenv("VELK_MATCHER_SEED");
  return text != nullptr ? std::strtoull(text, nullptr, 0) : DefaultSeed;
}

// splitmix64, so that a seed means the same cases everywhere.
struct Random {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  bool OneIn(std::size_t n) { return Below(n) == 0; }
};

// Few distinct bytes, so that names overlap and meet often: letters and
// digits, the underscore and other punctuation, zero and high bytes.
const std::string Alphabet = std::string("AAB1a_(.") + '\0' + "\x80\xff";

char AnyByteButLineEnd(Random& random) {
  char c = static_cast<char>(random.Below(256));
  return c == '\r' || c == '\n' ? 'x' : c;
}

std::string SmallText(Random& random, std::size_t max_length) {
  std::string text(1 + random.Below(max_length), ' ');
  for (char& c : text) {
    c = random.OneIn(12) ? AnyByteButLineEnd(random) : Alphabet[random.Below(Alphabet.size())];
  }
  return text;
}

// New names, earlier names again, earlier names with more around them, and
// now and then a long one that is cut to 40.
std::string RandomName(Random& random, const std::vector<std::string>& earlier) {
  const std::size_t kind = random.Below(10);
  if (kind < 2 && !earlier.empty()) {
    return earlier[random.Below(earlier.size())];
  }
  if (kind < 5 && !earlier.empty()) {
    const std::string& base = earlier[random.Below(earlier.size())];
    return random.OneIn(2) ? base + SmallText(random, 3) : SmallText(random, 2) + base;
  }
  if (kind == 5) {
    return SmallText(random, 45);
  }
  return SmallText(random, 4);
}

std::string RandomValue(Random& random, const std::vector<std::string>& names) {
  if (random.OneIn(4)) {
    return "";
  }
  if (random.OneIn(8)) {
    return std::string(60 + random.Below(20), 'v');  // long, cut to 70
  }
  std::string value = SmallText(random, 5);
  if (!names.empty() && random.OneIn(3)) {
    value += " " + names[random.Below(names.size())];  // expanded when defined by a line
  }
  return value;
}

// A table of 1 to 200 rows, some added as "#define " lines (values expanded
// by the earlier rows), the others by AddDefine with any bytes in the name.
void FillTable(Random& random, EngineState& state, std::vector<std::string>& names) {
  ResetEngine(state);
  const std::size_t rows = random.OneIn(4) ? 1 + random.Below(200) : 1 + random.Below(30);
  for (std::size_t k = 0; k < rows; ++k) {
    const std::string name = RandomName(random, names);
    const std::string value = RandomValue(random, names);
    const bool plain = name.find_first_of(" \t") == std::string::npos;
    if (plain && !value.empty() && value[0] != ' ' && value[0] != '\t' && random.OneIn(2)) {
      ASSERT_EQ(HandleLine(state, "#define " + name + " " + value), LineOutcome::Dropped);
    } else {
      ASSERT_EQ(AddDefine(state.Table, name, value), DefineOutcome::Added);
    }
    names.push_back(name.substr(0, NameCapacity));
  }
}

// Pieces of names with bytes around them; now and then any bytes; up to 255.
std::string RandomLine(Random& random, const std::vector<std::string>& names) {
  std::string line;
  const std::size_t pieces = random.Below(random.OneIn(8) ? 60 : 8);
  for (std::size_t k = 0; k < pieces && line.size() < 255; ++k) {
    const std::string& name = names[random.Below(names.size())];
    switch (random.Below(6)) {
      case 0:
        line += SmallText(random, 3);
        break;
      case 1:
        line += name.substr(random.Below(name.size()));
        break;
      case 2:
        line += name.substr(0, 1 + random.Below(name.size()));
        break;
      case 3:
        line += AnyByteButLineEnd(random);
        break;
      default:
        line += name;
    }
  }
  return line.substr(0, 255);
}

TEST(SymbolMatcherTest, OneScanGivesTheRowByRowResult) {
  const std::uint64_t seed = SeedFromEnvironment();
  Random random{seed};
  auto state = std::make_unique<EngineState>();
  auto copy = std::make_unique<EngineState>();
  int differences = 0;
  for (int t = 0; t < TableCount && differences < 5; ++t) {
    std::vector<std::string> names;
    FillTable(random, *state, names);
    // A copy of the state must work as well as the state itself.
    const EngineState& used = random.OneIn(4) ? (*copy = *state) : *state;
    for (int k = 0; k < LinesPerTable; ++k) {
      const std::string text = RandomLine(random, names);
      Line line(text);
      SubstituteLine(used.Table, line);
      const std::string expected = ReferenceSubstitute(used.Table, text);
      if (line.View() != expected) {
        ++differences;
        ADD_FAILURE() << "seed " << seed << " table " << t << " line " << k << " ("
                      << used.Table.DefineCount << " rows): " << ::testing::PrintToString(text)
                      << " gave " << ::testing::PrintToString(std::string(line.View())) << ", not "
                      << ::testing::PrintToString(expected);
      }
    }
  }
}

}  // namespace
}  // namespace velk
