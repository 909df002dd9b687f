#include "engine/directive_engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace velk {

using namespace std::literals;

// Feeds the "\n"-separated lines of text to the engine; gives the kept lines, each ended by "\n".
static std::string Kept(EngineState& state, std::string_view text) {
  std::string kept;
  for (std::size_t end = 0; end != std::string_view::npos; text.remove_prefix(end + 1)) {
    end = text.find('\n');  // npos on the last line, and npos + 1 is 0
    if (HandleLine(state, text.substr(0, end)) == LineOutcome::Keep) {
      kept.append(state.LineBuffer.View()).push_back('\n');
    }
  }
  return kept;
}

TEST(DirectiveEngineTest, KeptLinesOfEachInput) {
  const std::string v70(70, 'v'), n40(40, 'N'), a60(60, 'a');
  const struct {
    std::string input, kept;
  } cases[] = {
      {"\n#define\n#define\tX 1\nX\n#define \t\n#ifdef \na", "\n#define\n#define\tX 1\nX\na\n"},
      {"#define MAX 100\na[MAX]\nMAXIMUM\nMAX_SIZE\n_MAX\nMAXIMUM MAX",
       "a[100]\nMAXIMUM\n100_SIZE\n_100\nMAXIMUM MAX\n"},
      {"#define S v\n0S\nS0\n9S\nS9\nAS\nSA\nZS\nSZ\naS\nSa\nzS\nSz",
       "0S\nS0\n9S\nS9\nAS\nSA\nZS\nSZ\naS\nSa\nzS\nSz\n"},
      {"#define S v\n/S\nS/\n:S\nS:\n@S\nS@\n[S\nS[\n`S\nS`\n{S\nS{",
       "/v\nv/\n:v\nv:\n@v\nv@\n[v\nv[\n`v\nv`\n{v\nv{\n"},
      {"#define MAX z\n\xe9MAX\xff\na\0MAX\n#define \xe9t\xe9 \0x\n<\xe9t\xe9>"s,
       "\xe9z\xff\na\0z\n<\0x>\n"s},
      {"#define A 1\n#define B 2\nx := A + B\nA A\nB A", "x := 1 + B\n1 A\nB 1\n"},
      {"#define B A+1\n#define A 1\n#define C B+A\n#define N N+1\nB\nC\nN", "A+1\n1+1+A\nN+1\n"},
      {"#define X\n#define X 1\n#define X 2\n#define E\n#define F E X\nX\nF", "1\nE 1\n"},
      {"#define \tV\t\t1 \t2 \n#define FOO  \n#ifdef FOO \t\nV\nFOO\n#endif\n#ifndef FOO\t\nb",
       "1 \t2 \nFOO\n"},
      {"#define FOOBAR\n#ifdef FOO\na\n#endif\n#ifdef foobar\nb\n#endif\n#ifdef FOOBAR\nc", "c\n"},
      {"#ifdef\tU\n #ifdef U\n#IFDEF U\n#ifdefU\n#ifndef\tU\nx",
       "#ifdef\tU\n #ifdef U\n#IFDEF U\n#ifdefU\n#ifndef\tU\nx\n"},
      {"#ifdef U\na\n#endif U\nb\n#ifndef U\n#ifdef U\n#endifX\nc\n#endif", "b\nc\n"},
      {"#ifdef U\n#define Y 1\nY\n#endif\n#ifdef Y\nY\n#endif\n#ifdef U\nz", "1\n"},
      {"#define D\n#ifdef U\n#ifdef D\na\n#endif\nb\n#ifndef U\nc\n#endif\n#endif\nd", "d\n"},
      {"#define D\n#ifdef D\n#ifndef D\na\n#endif\nb", "b\n"},
      {"#endif\na\n#ifdef U\nb\n#endif\nc\n#ifdef U\n#ifdef U\n#endif\nd\n#endif\ne", "a\nc\ne\n"},
      {std::string(300, 'z'), std::string(255, 'z') + "\n"},
      {"#define X " + v70 + "w\nX " + std::string(250, 'y'),
       v70 + " " + std::string(184, 'y') + "\n"},
      {"#define " + n40 + "tail 1\n#ifdef " + n40 + "x\n" + n40 + "\n" + n40 + "x",
       "1\n" + n40 + "x\n"},
      {"#define A " + a60 + "\n#define B A " + std::string(20, 'b') + "\nB", a60 + " bbbbbbbbb\n"}};
  EngineState state;  // shared, so that ResetEngine has to clear what each case left
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    ResetEngine(state);
    EXPECT_EQ(Kept(state, c.input), c.kept);
  }
}

TEST(DirectiveEngineTest, The201stDefineIsRefusedWithNoRowStored) {
  EngineState state;
  for (int i = 1; i < MaxDefines; ++i) {
    ASSERT_EQ(AddDefine(state.Table, std::string("D").append(std::to_string(i)), ""),
              DefineOutcome::Added);
  }
  EXPECT_EQ(HandleLine(state, "#define LAST 1"), LineOutcome::Dropped);
  EXPECT_EQ(HandleLine(state, "#define OVER 2"), LineOutcome::TableFull);
  EXPECT_EQ(AddDefine(state.Table, "MORE", ""), DefineOutcome::TableFull);
  EXPECT_EQ(state.Table.DefineCount, MaxDefines);
  EXPECT_EQ(Kept(state, "OVER\nLAST\n#ifdef MORE\nx\n#endif\n#ifdef D1\ny"), "OVER\n1\ny\n");
}

TEST(DirectiveEngineTest, NestingDepthWrapsAroundInBothDirections) {
  EngineState state;
  state.Conditions.NestingDepth = INT32_MIN;
  EXPECT_EQ(Kept(state, "#endif\n#ifdef U\n#ifdef U\nx\n#endif\n#endif\ny"), "y\n");
  EXPECT_EQ(state.Conditions.NestingDepth, INT32_MAX);
}

}  // namespace velk
