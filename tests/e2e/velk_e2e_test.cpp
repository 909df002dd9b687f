// Whole runs of the built velk in a fresh directory: every file left in the
// directory, standard output and the exit status are checked byte for byte.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "test_support.h"

namespace velk {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;
using testing::RunChild;
using testing::ScopedTempDir;
using testing::WriteFileBytes;
using Files = std::map<std::string, std::string>;  // path in the directory -> bytes

const std::string Usage = "usage: VELK [-E ext] [-D defname] flnm [flnm2] [flnm3] ...\r\n";
const std::string TooManyDefines = "VELK: Maximum # of defines (200) exceeded.\r\n";
const std::string Name40 = std::string(36, 'L') + ".src";  // exactly 40 characters

std::string SameNames(const std::string& name) {
  return "DUDED: Input and output filenames (" + name + ") are same.\r\n";
}
std::string InputPrompt(const std::string& name) {
  return "Input file " + name + " cannot be opened. Enter new filename: ";
}
std::string OutputPrompt(const std::string& name) {
  return "Output file " + name + " cannot be opened. Enter new file name: ";
}

struct Case {
  std::string name = {};
  std::vector<std::string> args = {};
  Files inputs = {};   // written before the run
  Files outputs = {};  // new or changed files after the run; all other inputs stay as they were
  std::string stdout_text = {};
  int status = 0;
  std::string stdin_text = {};
  std::vector<std::string> dirs = {};  // directories made before the run
};

// Every regular file under root (symbolic links as "-> target").
Files ListFiles(const std::string& root) {
  Files files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      files[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      files[relative] = ReadFileBytes(entry.path().string());
    }
  }
  return files;
}

void Prepare(const ScopedTempDir& dir, const Case& c) {
  for (const std::string& sub : c.dirs) {
    fs::create_directories(dir.Join(sub));
  }
  for (const auto& [path, bytes] : c.inputs) {
    fs::create_directories(fs::path(dir.Join(path)).parent_path());
    WriteFileBytes(dir.Join(path), bytes);
  }
}

void RunCase(const Case& c) {
  SCOPED_TRACE(c.name);
  ScopedTempDir dir;
  Prepare(dir, c);
  const testing::ChildResult result = RunChild(VELK_BINARY, c.args, dir.path(), c.stdin_text);
  EXPECT_EQ(result.TermSignal, 0);
  EXPECT_EQ(result.ExitStatus, c.status);
  EXPECT_EQ(result.Stdout, c.stdout_text);
  Files expected = c.inputs;
  for (const auto& [path, bytes] : c.outputs) {
    expected[path] = bytes;
  }
  EXPECT_EQ(ListFiles(dir.path()), expected);
  for (const std::string& sub : c.dirs) {
    EXPECT_TRUE(fs::is_directory(dir.Join(sub))) << sub;
  }
}

TEST(VelkE2eTest, TypicalRunDefinesKeepsAndSubstitutes) {
  RunCase({.name = "typical run",
           .args = {"-D", "DEBUG", "prog.src"},
           .inputs = {{"prog.src",
                       "#define MAX 100\n#ifdef DEBUG\ntrace(MAX);\n#endif\nx := MAXIMUM;\n"}},
           .outputs = {{"prog.PAS", "trace(100);\r\nx := MAXIMUM;\r\n"}}});
}

// One run over a fixed set of input files: what it is expected to write.
struct Outcome {
  std::vector<std::string> args;
  Files outputs;
  std::string stdout_text = {};
  int status = 0;
  std::string stdin_text = {};
  std::vector<std::string> dirs = {};
};

void RunOutcomes(const Files& inputs, const std::vector<Outcome>& outcomes) {
  for (const Outcome& o : outcomes) {
    std::string name;
    for (const std::string& arg : o.args) {
      name += "[" + arg + "] ";
    }
    name += "stdin [" + o.stdin_text + "]";
    RunCase({name, o.args, inputs, o.outputs, o.stdout_text, o.status, o.stdin_text, o.dirs});
  }
}

TEST(VelkE2eTest, ArgumentWalk) {
  const Files inputs = {
      {"a.src", "a\n"},
      {"b.src", "b\n"},
      {"-x", "1\n"},
      {"-", "2\n"},
      {"--E", "3\n"},
      {Name40, "long\n"},
      {"d.src",
       "#ifdef X\nX\n#endif\n#ifdef BAR\nBAR\n#endif\n#ifdef foo\nfoo\n#endif\n"
       "#ifdef -E\n-E\n#endif\n"},
      {"y1.src", "#define Y why\n#ifdef X\nax\n#endif\n"},
      {"y2.src", "#ifdef X\nbx\n#endif\n#ifdef Y\nY\n#endif\n"},
  };
  const Files a_pas = {{"a.PAS", "a\r\n"}};
  RunOutcomes(
      inputs,
      {
          {{}, {}, Usage, 1},
          {{"-D", "X"}, {}, Usage, 1},
          {{"-E"}, {}, Usage, 1},
          {{"-E", "TXT", "a.src"}, {{"a.TXT", "a\r\n"}}},
          {{"-e", "txt", "-d", "X", "d.src"}, {{"d.txt", "X\r\n"}}},
          {{"-E", "TEXT", "a.src"}, {}, Usage, 1},
          {{"a.src", "-E", "TEXT", "b.src"}, a_pas, Usage, 1},
          {{"-Dfoo", "BAR", "d.src"}, {{"d.PAS", "BAR\r\n"}}},
          {{"a.src", "-E"}, a_pas},
          {{"a.src", "-D"}, a_pas},
          {{"-x", "-", "--E"}, {{"-x.PAS", "1\r\n"}, {"-.PAS", "2\r\n"}, {"--E.PAS", "3\r\n"}}},
          {{"a.src", "-E", "TXT", "b.src"}, {{"a.PAS", "a\r\n"}, {"b.TXT", "b\r\n"}}},
          {{"-D", "X", "y1.src", "y2.src"}, {{"y1.PAS", "ax\r\n"}, {"y2.PAS", "bx\r\nwhy\r\n"}}},
          {{Name40 + "_more"}, {{std::string(36, 'L') + ".PAS", "long\r\n"}}},
          {{"-E", "-D", "a.src"}, {{"a.-D", "a\r\n"}}},
          {{"-D", "-E", "d.src"}, {{"d.PAS", "-E\r\n"}}},
          {{"-E", "", "a.src"}, {{"a.", "a\r\n"}}},
          {{""}, {{".PAS", "hello\r\n1\r\n"}}, "", 0, "hello\n#define A 1\nA\n"},
      });
}

TEST(VelkE2eTest, OutputNaming) {
  struct Naming {
    std::vector<std::string> args;
    std::string input;
    std::string output;
  };
  const std::string g38(38, 'G');
  const Naming cases[] = {
      {{"prog"}, "prog", "prog.PAS"},
      {{"a.b.c"}, "a.b.c", "a.PAS"},
      {{"prog.pas"}, "prog.pas", "prog.PAS"},
      {{"./prog.src"}, "prog.src", "prog.PAS"},
      {{"dir.v2/prog.src"}, "dir.v2/prog.src", "dir.v2/prog.PAS"},
      {{"src/.profile"}, "src/.profile", "src/.PAS"},
      {{".profile"}, ".profile", ".PAS"},
      {{"-E", ".X", "prog.src"}, "prog.src", "prog.X"},
      {{"-E", ".", "prog.src"}, "prog.src", "prog."},
      {{g38}, g38, g38 + ".P"},
  };
  for (const Naming& n : cases) {
    RunCase({.name = n.output,
             .args = n.args,
             .inputs = {{n.input, "p\n"}},
             .outputs = {{n.output, "p\r\n"}}});
  }
}

TEST(VelkE2eTest, SameNamesStopTheRunAndLeaveTheFileUntouched) {
  struct Same {
    std::vector<std::string> args;
    std::string name;
  };
  const std::string f40(40, 'F');
  const Same cases[] = {
      {{"PROG.PAS"}, "PROG.PAS"}, {{f40}, f40}, {{"-E", "TXT", "x.TXT"}, "x.TXT"}};
  for (const Same& same : cases) {
    Case c{.name = same.name,
           .args = {"a.src"},
           .inputs = {{"a.src", "a\n"}, {same.name, "keep me\n"}, {"b.src", "b\n"}},
           .outputs = {{"a.PAS", "a\r\n"}},
           .stdout_text = SameNames(same.name),
           .status = 1};
    c.args.insert(c.args.end(), same.args.begin(), same.args.end());
    c.args.push_back("b.src");
    RunCase(c);
  }
}

TEST(VelkE2eTest, PromptsForAnotherName) {
  const Files inputs = {
      {"a.src", "a\n"}, {"b.src", "b\n"}, {"real.src", "r\n"}, {Name40, "long\n"}};
  const Files a_pas = {{"a.PAS", "a\r\n"}};
  const std::vector<std::string> missing = {"a.src", "miss.src", "real.src"};
  const std::string in_prompt = InputPrompt("miss.src");
  const std::string out_prompt = OutputPrompt("b.PAS");
  RunOutcomes(inputs,
              {
                  {{"miss.src"}, {{"miss.PAS", "r\r\n"}}, in_prompt, 0, "real.src\n"},
                  {{"miss.src"},
                   {{"miss.PAS", "r\r\n"}},
                   in_prompt + InputPrompt("nope.src"),
                   0,
                   "nope.src\r\nreal.src\n"},
                  {{"miss.src"}, {{"miss.PAS", "long\r\n"}}, in_prompt, 0, Name40 + "tail\n"},
                  {missing, a_pas, in_prompt, 1, "\n"},
                  {missing, a_pas, in_prompt, 1, ""},
                  {{"b.src"}, {{"out.PAS", "b\r\n"}}, out_prompt, 0, "out.txt\n", {"b.PAS"}},
                  {{"b.src"},
                   {{"out.PAS", "b\r\n"}},
                   out_prompt + OutputPrompt("a.PAS"),
                   0,
                   "a.c\nout.txt\n",
                   {"a.PAS", "b.PAS"}},
                  {{"a.src", "b.src", "real.src"}, a_pas, out_prompt, 1, "\n", {"b.PAS"}},
                  {{"a.src", "b.src", "real.src"}, a_pas, out_prompt, 1, "", {"b.PAS"}},
                  {{"miss.src"},
                   {{"o.PAS", "r\r\n"}},
                   in_prompt + OutputPrompt("miss.PAS"),
                   0,
                   "real.src\no\n",
                   {"miss.PAS"}},
              });
}

TEST(VelkE2eTest, StateCarriesAcrossFiles) {
  const Case cases[] = {
      {.name = "define with a value",
       .args = {"a.src", "b.src"},
       .inputs = {{"a.src", "#define V 42\n"}, {"b.src", "x = V;\n"}},
       .outputs = {{"a.PAS", ""}, {"b.PAS", "x = 42;\r\n"}}},
      {.name = "false block left open",
       .args = {"a.src", "b.src"},
       .inputs = {{"a.src", "a1\n#ifdef NOPE\na2\n#define Z zed\n"},
                  {"b.src", "b1\n#ifdef Z\nb2\n#endif\nb3\n#endif\nb4 Z\n"}},
       .outputs = {{"a.PAS", "a1\r\n"}, {"b.PAS", "b4 zed\r\n"}}},
      {.name = "true block left open",
       .args = {"a.src", "b.src"},
       .inputs = {{"a.src", "#ifndef NOPE\n"}, {"b.src", "b1\n#endif\nb2\n"}},
       .outputs = {{"a.PAS", ""}, {"b.PAS", "b1\r\nb2\r\n"}}},
  };
  for (const Case& c : cases) {
    RunCase(c);
  }
}

TEST(VelkE2eTest, LineEndsAndLengths) {
  struct Lines {
    std::string input;
    std::string output;
  };
  const Lines cases[] = {
      {"", "\r\n"},
      {"\n", "\r\n"},
      {"a\n\n", "a\r\n\r\n"},
      {"a\rb\nc\r\nd", "a\r\nb\r\nc\r\nd\r\n"},
      {"A\n\rB\r\r\n", "A\r\n\r\nB\r\n\r\n"},
      {"a\n\032b\nc\n", "a\r\n"},
      {"\032a\nb\n", "\032a\r\nb\r\n"},
      {"a\032b\n", "a\032b\r\n"},
      {std::string("\0\x80\xff\n", 4), std::string("\0\x80\xff\r\n", 5)},
      {std::string(255, 'a') + "\r\nb", std::string(255, 'a') + "\r\nb\r\n"},
      {"x\n" + std::string(300, 'y') + "\nz", "x\r\n" + std::string(255, 'y') + "\r\nz\r\n"},
  };
  for (const Lines& l : cases) {
    RunCase({.name = "input \"" + l.input + "\"",
             .args = {"a.src"},
             .inputs = {{"a.src", l.input}},
             .outputs = {{"a.PAS", l.output}}});
  }
}

TEST(VelkE2eTest, TwoHundredFirstDefineFromTheCommandLineStopsTheRun) {
  Case c{.name = "201 -D options",
         .inputs = {{"a.src", "#ifdef N200\nlast accepted\n#endif\n"}, {"b.src", "b\n"}},
         .outputs = {{"a.PAS", "last accepted\r\n"}},
         .stdout_text = TooManyDefines,
         .status = 1};
  for (int i = 1; i <= 200; ++i) {
    c.args.insert(c.args.end(), {"-D", "N" + std::to_string(i)});
  }
  c.args.insert(c.args.end(), {"a.src", "-D", "N201", "b.src"});
  RunCase(c);
}

TEST(VelkE2eTest, TwoHundredFirstDefineInAFileKeepsTheLinesBefore) {
  std::string input;
  std::string kept;
  for (int i = 10; i < 23; ++i) {
    const std::string line = "kept line " + std::to_string(i) + " of the text ......";
    input += line + "\n";
    kept += line + "\r\n";
  }
  for (int i = 1; i <= 200; ++i) {
    input += "#define D" + std::to_string(i) + "\n";
  }
  input += "mid\n#define D201\nnever\n";
  kept += "mid\r\n";
  ASSERT_GT(kept.size(), 256u);
  RunCase({.name = "201st #define",
           .args = {"a.src", "b.src"},
           .inputs = {{"a.src", input}, {"b.src", "b\n"}},
           .outputs = {{"a.PAS", kept}},
           .stdout_text = TooManyDefines,
           .status = 1});
}

bool IsHex8(std::string_view s) {
  return s.size() == 8 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

// "Runtime error N at 0x" and 8 hex digits, the same address as a line of
// its own, at least one back-trace line, an empty line; every line CR LF.
bool IsRuntimeErrorReport(std::string_view text, const std::string& number) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find("\r\n");
    if (end == std::string_view::npos) {
      return false;
    }
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 2);
  }
  const std::string head = "Runtime error " + number + " at 0x";
  if (lines.size() < 4 || !lines[0].starts_with(head) || !IsHex8(lines[0].substr(head.size())) ||
      lines[1] != "  0x" + std::string(lines[0].substr(head.size())) || !lines.back().empty()) {
    return false;
  }
  return std::all_of(lines.begin() + 2, lines.end() - 1, [](std::string_view line) {
    return line.starts_with("  0x") && IsHex8(line.substr(4));
  });
}

TEST(VelkE2eTest, UnwritableOutputEndsWithRuntimeError112) {
  ScopedTempDir dir;
  WriteFileBytes(dir.Join("a.src"), "one\ntwo\n");
  fs::create_symlink("/dev/full", dir.Join("a.PAS"));
  const testing::ChildResult result = RunChild(VELK_BINARY, {"a.src"}, dir.path());
  EXPECT_EQ(result.ExitStatus, 112);
  EXPECT_TRUE(IsRuntimeErrorReport(result.Stdout, "112")) << result.Stdout;
  EXPECT_EQ(ReadFileBytes(dir.Join("a.src")), "one\ntwo\n");
}

// Reads from fd until `want` bytes have arrived, the end of the stream or the
// deadline; the time limit only guards against a hang.
bool ReadUntil(int fd, std::string& seen, std::size_t want,
               std::chrono::steady_clock::time_point deadline) {
  while (seen.size() < want) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char chunk[512];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) {
      return false;
    }
    seen.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

TEST(VelkE2eTest, PromptReachesStandardOutputBeforeTheAnswerIsRead) {
  ScopedTempDir dir;
  WriteFileBytes(dir.Join("real.src"), "answered\n");
  const std::string prompt = InputPrompt("miss.src");
  int to_child[2];
  int from_child[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(from_child), 0);
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[1]);
    close(from_child[0]);
    if (chdir(dir.path().c_str()) == 0) {
      execl(VELK_BINARY, VELK_BINARY, "miss.src", static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string seen;
  const bool arrived = ReadUntil(from_child[0], seen, prompt.size(), deadline);
  if (arrived) {
    const std::string answer = "real.src\n";
    EXPECT_EQ(write(to_child[1], answer.data(), answer.size()),
              static_cast<ssize_t>(answer.size()));
  }
  close(to_child[1]);
  ReadUntil(from_child[0], seen, std::string::npos, deadline);
  close(from_child[0]);
  if (std::chrono::steady_clock::now() >= deadline) {
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(arrived) << "the prompt did not arrive while the answer was held back";
  EXPECT_EQ(seen, prompt);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(dir.Join("miss.PAS")), "answered\r\n");
}

}  // namespace
}  // namespace velk
