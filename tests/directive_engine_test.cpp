#include "engine/directive_engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace velk {
namespace {

using namespace std::literals;

constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();

class DirectiveEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetEngine(*state_); }

  // Hands each line of text (lines split at "\n") to the engine and gives the
  // kept lines, each followed by "\n".
  std::string Run(std::string_view text) {
    std::string kept;
    while (true) {
      const std::size_t end = text.find('\n');
      const std::string_view line = text.substr(0, end);
      const LineOutcome outcome = HandleLine(*state_, line);
      EXPECT_NE(outcome, LineOutcome::TableFull) << line;
      if (outcome == LineOutcome::Keep) {
        kept.append(state_->LineBuffer.View()).push_back('\n');
      }
      if (end == std::string_view::npos) {
        return kept;
      }
      text.remove_prefix(end + 1);
    }
  }

  std::unique_ptr<EngineState> state_ = std::make_unique<EngineState>();
};

struct Scenario {
  const char* name;
  std::string_view input;
  std::string_view kept;
  std::int32_t defines;  // DefineCount afterwards
  std::int32_t depth;    // NestingDepth afterwards
};

const Scenario Scenarios[] = {
    {"empty line is kept", "", "\n", 0, 0},
    {"#define without its blank is text", "#define\n#define\tX 1\nX", "#define\n#define\tX 1\nX\n",
     0, 0},
    {"#define with only blanks defines nothing", "#define    \n#define \t\nx", "x\n", 0, 0},
    {"whole words only", "#define MAX 100\na[MAX]\nMAXIMUM\nMAX_SIZE\n_MAX\n9MAX\nMAX9\nx := MAX",
     "a[100]\nMAXIMUM\n100_SIZE\n_100\n9MAX\nMAX9\nx := 100\n", 1, 0},
    {"only the first occurrence is looked at", "#define MAX 100\nMAXIMUM MAX\nMAX MAX",
     "MAXIMUM MAX\n100 MAX\n", 1, 0},
    {"zero and high bytes are not word characters",
     "#define MAX 100\n\xe9MAX\xff\na\0MAX\n#define \xe9t\xe9 \0x\n<\xe9t\xe9>"sv,
     "\xe9"
     "100\xff\na\0"
     "100\n<\0x>\n"sv,
     2, 0},
    {"one replacement per line, earliest define first",
     "#define A 1\n#define B 2\nx := A + B\nA A\nB A", "x := 1 + B\n1 A\nB 1\n", 2, 0},
    {"values fold earlier defines", "#define A 1\n#define B A+1\nB", "1+1\n", 2, 0},
    {"values never fold later defines", "#define B A+1\n#define A 1\nB", "A+1\n", 2, 0},
    {"folded text is folded again by later rows only",
     "#define A B\n#define B 2\n#define C A\nC\nA", "2\nB\n", 3, 0},
    {"folding looks only at the first occurrence", "#define M 1\n#define V MM M\nV", "MM M\n", 2,
     0},
    {"the first of two rows wins", "#define X 1\n#define X 2\nX", "1\n", 2, 0},
    {"a row without value is passed over", "#define X\n#define X 2\nX", "2\n", 2, 0},
    {"value keeps inner and trailing blanks and tabs", "#define \tX\t\t1 \t2 \nX", "1 \t2 \n", 1,
     0},
    {"define without value is defined but not replaced", "#define FOO\n#ifdef FOO\nFOO\n#endif",
     "FOO\n", 1, 0},
    {"trailing blanks and tabs end names",
     "#define FOO   \n#ifdef FOO \t\nin\n#endif\n#ifndef FOO\t\nout\n#endif", "in\n", 1, 0},
    {"names are compared whole and case-sensitively",
     "#define FOOBAR\n#ifdef FOO\na\n#endif\n#ifdef foobar\nb\n#endif\n#ifdef FOOBAR\nc\n#endif",
     "c\n", 1, 0},
    {"look-alikes of directives are text", "#ifdef\tU\n #ifdef U\n#IFDEF U\n#ifdefU\n#ifndef\tU\nx",
     "#ifdef\tU\n #ifdef U\n#IFDEF U\n#ifdefU\n#ifndef\tU\nx\n", 0, 0},
    {"#endif followed by anything closes",
     "#ifdef U\na\n#endif U\nb\n#ifndef U\n#ifdef U\n#endifX\nc\n#endif", "b\nc\n", 0, 0},
    {"#ifndef of a defined name skips", "#define D\n#ifndef D\na\n#endif\nb", "b\n", 1, 0},
    {"a block without a name stays active", "#ifdef \na\n#ifndef  \t\nb\n#endif", "a\nb\n", 0, 1},
    {"defines inside a false block still count",
     "#ifdef U\n#define Y 1\nY\n#endif\n#ifdef Y\nY\n#endif", "1\n", 1, 0},
    {"nested false blocks are skipped whole",
     "#define D\n#ifdef U\n#ifdef D\na\n#endif\nb\n#ifndef U\nc\n#endif\n#endif\nd", "d\n", 1, 0},
    {"false block inside a true one", "#define D\n#ifdef D\n#ifndef D\na\n#endif\nb", "b\n", 1, 1},
    {"a stray #endif is ignored and later blocks pair",
     "#endif\na\n#ifdef U\nb\n#endif\nc\n#ifdef U\n#ifdef U\n#endif\nd\n#endif\ne", "a\nc\ne\n", 0,
     -1},
    {"an open false block swallows the rest", "#ifdef U\na\n#define Z 1", "", 1, 1},
};

TEST_F(DirectiveEngineTest, Scenarios) {
  for (const Scenario& s : Scenarios) {
    SCOPED_TRACE(s.name);
    ResetEngine(*state_);
    EXPECT_EQ(Run(s.input), s.kept);
    EXPECT_EQ(state_->Table.DefineCount, s.defines);
    EXPECT_EQ(state_->Conditions.NestingDepth, s.depth);
  }
}

TEST_F(DirectiveEngineTest, CommandLineSymbolAndTypicalFile) {
  ASSERT_EQ(AddDefine(state_->Table, "DEBUG", ""), DefineOutcome::Added);
  EXPECT_EQ(Run("#define MAX 100\n#ifdef DEBUG\ntrace(MAX);\n#endif\nx := MAXIMUM;"),
            "trace(100);\nx := MAXIMUM;\n");
}

TEST_F(DirectiveEngineTest, ResetEngineSetsTheInitialState) {
  ASSERT_EQ(AddDefine(state_->Table, "X", "1"), DefineOutcome::Added);
  state_->Conditions = ConditionalState{.OutputActive = false, .NestingDepth = 7, .SkipDepth = 3};
  HandleLine(*state_, "leftover");
  ResetEngine(*state_);
  EXPECT_EQ(state_->Table.DefineCount, 0);
  EXPECT_TRUE(state_->Conditions.OutputActive);
  EXPECT_EQ(state_->Conditions.NestingDepth, 0);
  EXPECT_EQ(state_->Conditions.SkipDepth, 0);
  EXPECT_EQ(state_->LineLength, 0);
  EXPECT_TRUE(state_->LineBuffer.empty());
  EXPECT_FALSE(IsDefined(state_->Table, "X"));
  EXPECT_EQ(Run("X"), "X\n");
}

TEST_F(DirectiveEngineTest, SkipDepthFollowsTheBlockThatFailed) {
  Run("#define D\n#ifdef D\n#ifdef U");
  EXPECT_EQ(state_->Conditions.SkipDepth, 2);
  Run("#ifdef X\n#endif");
  EXPECT_FALSE(state_->Conditions.OutputActive);
  EXPECT_EQ(state_->Conditions.SkipDepth, 2);
  Run("#endif");
  EXPECT_TRUE(state_->Conditions.OutputActive);
  EXPECT_EQ(state_->Conditions.SkipDepth, 0);
  EXPECT_EQ(state_->Conditions.NestingDepth, 1);
}

TEST_F(DirectiveEngineTest, NestingDepthWrapsInsteadOfOverflowing) {
  state_->Conditions.NestingDepth = Max32;
  Run("#ifdef U");
  EXPECT_EQ(state_->Conditions.NestingDepth, Min32);
  EXPECT_EQ(state_->Conditions.SkipDepth, Min32);
  Run("#endif");
  EXPECT_TRUE(state_->Conditions.OutputActive);
  EXPECT_EQ(state_->Conditions.NestingDepth, Max32);
}

TEST_F(DirectiveEngineTest, The201stDefineIsRefusedAndNothingIsStored) {
  for (int i = 1; i < MaxDefines; ++i) {
    ASSERT_EQ(AddDefine(state_->Table, "D" + std::to_string(i), ""), DefineOutcome::Added);
  }
  EXPECT_EQ(HandleLine(*state_, "#define LAST 1"), LineOutcome::Dropped);
  EXPECT_EQ(state_->Table.DefineCount, MaxDefines);
  EXPECT_EQ(HandleLine(*state_, "#define    "), LineOutcome::Dropped);
  EXPECT_EQ(HandleLine(*state_, "#define OVER 2"), LineOutcome::TableFull);
  EXPECT_EQ(AddDefine(state_->Table, "MORE", ""), DefineOutcome::TableFull);
  EXPECT_EQ(state_->Table.DefineCount, MaxDefines);
  EXPECT_FALSE(IsDefined(state_->Table, "OVER"));
  EXPECT_FALSE(IsDefined(state_->Table, "MORE"));
  EXPECT_TRUE(IsDefined(state_->Table, "D1"));
  EXPECT_EQ(Run("LAST OVER"), "1 OVER\n");
}

TEST_F(DirectiveEngineTest, LinesAreCutAt255WhenReadAndAfterAReplacement) {
  const std::string long_line(300, 'z');
  EXPECT_EQ(HandleLine(*state_, long_line), LineOutcome::Keep);
  EXPECT_EQ(state_->LineLength, 255);
  EXPECT_EQ(state_->LineBuffer.View(), long_line.substr(0, 255));

  const std::string value(70, 'v');
  const std::string tail(250, 'y');
  EXPECT_EQ(Run("#define X " + value + "\nX " + tail), (value + " " + tail).substr(0, 255) + "\n");
}

TEST_F(DirectiveEngineTest, NamesAreCutAt40AndValuesAt70) {
  const std::string name40(40, 'N');
  const std::string value80 = std::string(69, 'v') + "w" + std::string(10, 'x');
  const std::string ignored = name40 + "tail";
  EXPECT_EQ(Run("#define " + ignored + " " + value80 + "\n#ifdef " + name40 + "other\n(" + name40 +
                ")\n" + ignored + "\n#endif"),
            "(" + value80.substr(0, 70) + ")\n" + ignored + "\n");
  EXPECT_EQ(state_->Table.Rows[0].Name.View(), name40);

  Run("#define A " + std::string(60, 'a') + "\n#define B A " + std::string(20, 'b'));
  EXPECT_EQ(state_->Table.Rows[2].Value.View(),
            (std::string(60, 'a') + " " + std::string(20, 'b')).substr(0, 70));
}

TEST_F(DirectiveEngineTest, ExpandValueFoldsOnlyEarlierRowsWithValues) {
  DefineTable& table = state_->Table;
  AddDefine(table, "A", "");
  AddDefine(table, "B", "2");
  AddDefine(table, "C", "A B C D");
  AddDefine(table, "D", "4");
  ExpandValue(table, 3);
  EXPECT_EQ(table.Rows[2].Value.View(), "A 2 C D");
  ExpandValue(table, 1);
  EXPECT_EQ(table.Rows[0].Value.View(), "");
}

TEST(DirectiveEngineParts, IsWordCharIsAsciiLettersAndDigitsOnly) {
  for (const int c : {'0', '9', 'A', 'Z', 'a', 'z'}) {
    EXPECT_TRUE(IsWordChar(static_cast<unsigned char>(c))) << c;
  }
  for (const int c : std::initializer_list<int>{'/', ':', '@', '[', '`', '{', '_', ' ', '\t', 0,
                                                0x7F, 0x80, 0xC0, 0xE9, 0xFF}) {
    EXPECT_FALSE(IsWordChar(static_cast<unsigned char>(c))) << c;
  }
  int count = 0;
  for (int c = 0; c < 256; ++c) {
    count += IsWordChar(static_cast<unsigned char>(c)) ? 1 : 0;
  }
  EXPECT_EQ(count, 62);
}

TEST(DirectiveEngineParts, ScanNameRunsToTheNextBlankOrTab) {
  struct Case {
    std::string_view line;
    std::int32_t start;
    bool found;
    std::int32_t name_start, next;
    std::string_view text;
  };
  const Case cases[] = {
      {"#define  \tFOO\tbar", 9, true, 11, 14, "FOO"},
      {"#define ab", 9, true, 9, 11, "ab"},
      {"#ifdef X ", 8, true, 8, 9, "X"},
      {"#define a\0\xff b"sv, 9, true, 9, 12, "a\0\xff"sv},
      {"#ifdef \vX\fY\r", 8, true, 8, 13, "\vX\fY\r"},
      {"#define ", 9, false, 0, 0, ""},
      {"#define \t \t", 9, false, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ScannedName name = ScanName(c.line, c.start);
    EXPECT_EQ(name.Found, c.found);
    if (c.found) {
      EXPECT_EQ(name.Start, c.name_start);
      EXPECT_EQ(name.Next, c.next);
      EXPECT_EQ(name.Text, c.text);
    }
  }
}

}  // namespace
}  // namespace velk
