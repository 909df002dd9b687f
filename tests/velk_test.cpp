// Runs of velk in a fresh directory: the files it leaves, its standard output and its status,
// byte for byte. The same table runs against velk.exe under Wine (see harness.h); a case that
// only one kind of system can give says so. A case with an injection runs velk under strace,
// which makes chosen system calls on one file come back interrupted, short or failed. Then the
// runtime's stops, reports and faults, seen in a small program on it (probe/runtime_probe.cpp).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "harness.h"

namespace fs = std::filesystem;
using namespace std::literals;
using namespace velk::testing;
// path -> bytes; a directory's path ends in "/", a symlink's in "@" (its bytes: the target)
using Files = std::map<std::string, std::string>;

const Program Velk(VELK_BINARY, "VELK_TEST_VELK");

const std::string Usage = "usage: VELK [-E ext] [-D defname] flnm [flnm2] [flnm3] ...\r\n";
const std::string TooMany = "VELK: Maximum # of defines (200) exceeded.\r\n";
const std::string Miss = "Input file miss.src cannot be opened. Enter new filename: ";
const std::string L36 = std::string(36, 'L'), G38 = std::string(38, 'G'), F40(40, 'F');

// Every run starts in a directory holding these; a plain file holds its own name.
const Files Inputs = [] {
  Files files = {
      {"d.src", "#ifdef BAR\n#ifndef foo\nBAR\n#endif\n#endif\n"},
      {"y1.src", "#define Y why\n#ifdef X\nax\n#endif\n"},
      {"y2.src", "#ifdef X\nbx\n#endif\nY\n"},
      {"prog.src", "#define MAX 100\n#ifdef DEBUG\ntrace(MAX);\n#endif\nx := MAXIMUM;\n"},
      {"s1.src", "#define V 42\n#ifdef NOPE\n#ifdef V\nx\n"},
      {"s2.src", "b1 V\n#endif\nb2\n#endif\nb3 V\n"}};
  std::istringstream names(
      "a.src b.src real.src -x - prog a.b.c p.src dir.v2/ dir.v2/prog.src "
      "src/ src/.profile .profile s.a/ x.TXT d.v2/ d.v2/P.PAS q.src q.PAS/ w.PAS/ " +
      G38 + " " + F40 + " " + L36 + ".src");
  for (std::string name; names >> name;) {
    files[name] = name.ends_with('/') ? "" : name + "\n";
  }
  return files;
}();

// Where a case holds: a file system that tells case apart, device files and symlinks are POSIX's.
enum class Only { Both, Posix, Windows };

struct Case {
  std::vector<std::string> args;
  Files outputs;                 // files the run makes or changes; every other file stays as it was
  std::string stdout_text = {};  // with a status of 100 or more: a run-time error report
  int status = 0;
  std::string stdin_text = {};
  Files inputs = {};  // besides Inputs, or in place of one of them
  Only only = Only::Both;
  std::string inject = {};      // "FILE CALL:...": strace's injection into the calls on FILE
  std::string stdin_file = {};  // a file of the directory as standard input, for stdin_text
};

static void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const bool traced = !c.inject.empty();
    if (c.only == (Velk.Windows ? Only::Posix : Only::Windows) ||
        (traced && (!Velk.Runner.empty() || std::string(VELK_STRACE).ends_with("NOTFOUND")))) {
      continue;
    }
    SCOPED_TRACE(::testing::PrintToString(c.args) + " stdin " + c.stdin_text + " " + c.inject);
    TempDir dir;
    Files inputs = c.inputs, expected = c.outputs, found;
    inputs.insert(Inputs.begin(), Inputs.end());
    expected.insert(inputs.begin(), inputs.end());
    for (const auto& [path, bytes] : inputs) {
      path.ends_with('/')   ? void(fs::create_directory(dir.Join(path)))
      : path.ends_with('@') ? fs::create_symlink(bytes, dir.Join(path.substr(0, path.size() - 1)))
                            : WriteFile(dir.Join(path), bytes);
    }
    std::vector<std::string> command = Velk.Command(c.args);
    if (traced) {  // names in full: strace matches an open's name as velk passes it
      const std::string here = fs::canonical(dir.path).string() + "/", in = c.inject;
      const std::string file = in.substr(0, in.find(' ')), call = in.substr(file.size() + 1);
      command = {VELK_STRACE,        "-o/dev/null",
                 "-P" + here + file, std::string("-etrace=").append(call.substr(0, call.find(':'))),
                 "-einject=" + call, Velk.File};
      for (const std::string& arg : c.args) {
        command.push_back(here + arg);
      }
    }
    if (!c.stdin_file.empty()) {
      command.insert(command.begin(), {"/bin/sh", "-c", "exec \"$@\" < \"$0\"", c.stdin_file});
    }
    const Result result = RunChild(command, dir.path, c.stdin_text);
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir.path)) {
      const std::string name = e.path().lexically_relative(dir.path).string();
      found[name + (e.is_symlink()     ? "@"
                    : e.is_directory() ? "/"
                                       : "")] = e.is_symlink()     ? fs::read_symlink(e).string()
                                                : e.is_directory() ? ""
                                                                   : ReadFile(e.path());
    }
    EXPECT_EQ(result.Status, c.status);
    if (c.status >= 100) {
      EXPECT_GE(ReportAddresses(result.Stdout, c.status).size(), 2u);
    } else {
      EXPECT_EQ(result.Stdout, c.stdout_text);
    }
    EXPECT_EQ(found, expected);
  }
}

TEST(VelkE2eTest, TypicalRunsAndTheArgumentWalk) {
  RunCases(
      {{{"-D", "DEBUG", "prog.src"}, {{"prog.PAS", "trace(100);\r\nx := MAXIMUM;\r\n"}}},
       {{"s1.src", "s2.src"}, {{"s1.PAS", ""}, {"s2.PAS", "b3 42\r\n"}}},
       {{"e.src"}, {{"e.PAS", "\r\n"}}, "", 0, "", {{"e.src", ""}}},
       {{}, {}, Usage, 1},
       {{"-D", "X"}, {}, Usage, 1},
       {{"-E", "TXT", "a.src"}, {{"a.TXT", "a.src\r\n"}}},
       {{"-E", "TEXT", "a.src"}, {}, Usage, 1},
       {{"-e", "TXT", "-d", "DEBUG", "prog.src"},
        {{"prog.TXT", "trace(100);\r\nx := MAXIMUM;\r\n"}}},
       // an existing output longer than the new one keeps nothing of its old bytes
       {{"a.src"}, {{"a.PAS", "a.src\r\n"}}, "", 0, "", {{"a.PAS", "an older, longer text\r\n"}}},
       {{"-Dfoo", "BAR", "d.src"}, {{"d.PAS", "BAR\r\n"}}},
       {{"a.src", "-E"}, {{"a.PAS", "a.src\r\n"}}},
       {{"-x", "-"}, {{"-x.PAS", "-x\r\n"}, {"-.PAS", "-\r\n"}}},
       {{"a.src", "-E", "TXT", "b.src"}, {{"a.PAS", "a.src\r\n"}, {"b.TXT", "b.src\r\n"}}},
       {{"-D", "X", "y1.src", "y2.src"}, {{"y1.PAS", "ax\r\n"}, {"y2.PAS", "bx\r\nwhy\r\n"}}},
       {{L36 + ".src_and_more"}, {{L36 + ".PAS", L36 + ".src\r\n"}}},
       {{"-E", "-D", "a.src"}, {{"a.-D", "a.src\r\n"}}},
       // a symbol without a value does not take up a line's one replacement
       {{"-D", "X", "x.src"}, {{"x.PAS", "X 1\r\n"}}, "", 0, "", {{"x.src", "#define Y 1\nX Y"}}}});
}

TEST(VelkE2eTest, OutputNamingAndSameNames) {
  const auto same = [](const std::string& name) {
    return "DUDED: Input and output filenames (" + name + ") are same.\r\n";
  };
  const std::string prog = "Output file prog.PAS cannot be opened. Enter new file name: ";
  const std::string sab = "Output file s.a/b.a/b cannot be opened. Enter new file name: ";
  const std::string l = "Output file l.PAS cannot be opened. Enter new file name: ";
  const Files p = {{"prog.pas", "p\n"}}, held = {{"o.PAS", "p\r\n"}}, s = {{"s.a/b", "s\n"}},
              o = {{"o.PAS", "l\r\n"}};
  RunCases({{{"prog"}, {{"prog.PAS", "prog\r\n"}}},
            {{"a.b.c"}, {{"a.PAS", "a.b.c\r\n"}}},
            {{"prog.pas"}, {{"prog.PAS", "p\r\n"}}, "", 0, "", p, Only::Posix},
            // where case does not count, prog.PAS is the input itself, which velk holds
            {{"prog.pas"}, held, prog, 0, "o\n", p, Only::Windows},
            {{"dir.v2\\prog.src"}, {{"dir.v2/prog.PAS", "dir.v2/prog.src\r\n"}}},
            {{"./p.src"}, {{"p.PAS", "p.src\r\n"}}},
            {{"dir.v2/prog.src"}, {{"dir.v2/prog.PAS", "dir.v2/prog.src\r\n"}}},
            {{"src/.profile"}, {{"src/.PAS", "src/.profile\r\n"}}},
            {{".profile"}, {{".PAS", ".profile\r\n"}}},
            {{"-E", ".X", "p.src"}, {{"p.X", "p.src\r\n"}}},
            {{G38}, {{G38 + ".P", G38 + "\r\n"}}},
            {{"PROG.PAS"}, {}, same("PROG.PAS"), 1, "", {{"PROG.PAS", "P\n"}}},
            {{F40}, {}, same(F40), 1},
            {{"-E", "TXT", "x.TXT"}, {}, same("x.TXT"), 1},
            {{"d.v2/P.PAS"}, {}, same("d.v2/P.PAS"), 1},
            // an output that is the input under another name is refused, and the input kept whole
            {{"l.src"}, o, l, 0, "o\n", {{"l.src@", "l.PAS"}, {"l.PAS", "l\n"}}, Only::Posix},
            // a typed output name is named and compared with the command line's as that one is
            {{"-E", "a/b", "s.a/b"}, {}, sab + same("s.a/b"), 1, "s\n", s}});
}

TEST(VelkE2eTest, PromptsAnsweredAgainAndEnded) {
  const std::string q = "Output file q.PAS cannot be opened. Enter new file name: ";
  const std::string w = "Output file w.PAS cannot be opened. Enter new file name: ";
  const std::string x = "Input file x cannot be opened. Enter new filename: ";
  const std::string NoDir = "Output file nodir/x.PAS cannot be opened. Enter new file name: ";
  const std::string x0 = "Input file r\0s cannot be opened. Enter new filename: "s;
  const Files a = {{"a.PAS", "a.src\r\n"}}, o = {{"o.PAS", "q.src\r\n"}}, r = {{"r", "r\n"}};
  RunCases({{{"miss.src"}, {{"miss.PAS", "real.src\r\n"}}, Miss, 0, "real.src\n"},
            {{"miss.src"}, {{"miss.PAS", "real.src\r\n"}}, Miss + x, 0, "x\nreal.src\n"},
            {{"a.src", "miss.src", "b.src"}, a, Miss, 1, "\n"},
            {{"a.src", "miss.src", "b.src"}, a, Miss, 1, ""},
            {{"miss.src"}, {}, Miss, 1, "\nreal.src\n"},  // no more is read after an empty answer
            {{"q.src"}, o, q, 0, "o.txt\n"},
            {{"q.src"}, o, q + w, 0, "w\no\n"},
            {{"a.src", "q.src", "b.src"}, a, q, 1, "\n"},
            {{"a.src", "q.src", "b.src"}, a, q, 1, ""},
            {{"q.src"}, {}, q, 1, "\no\n"},
            {{"q.src"}, o, q + NoDir, 0, "nodir/x.txt\no\n"},
            {{"src"}, {}, "Input file src cannot be opened. Enter new filename: ", 1, "\n"},
            // an answer with a zero byte names no file, not the one before the zero
            {{"miss.src"}, {{"miss.PAS", "real.src\r\n"}}, Miss + x0, 0, "r\0s\nreal.src\n"s, r},
            {{"q.src"}, o, q + "Output file r\0s.PAS"s + q.substr(17), 0, "r\0s\no\n"s, r},
            // an empty name is standard input, which stays open for the answer after it
            {{"", "miss.src"}, {{".PAS", "x\r\n"}}, Miss, 1, "x\n", {}, Only::Posix},
            // standard input's own file is never emptied for an output: the answer comes from it
            {{""},
             {{"o.PAS", "\r\n"}},
             "Output file .PAS" + q.substr(17),
             0,
             "",
             {{".PAS", "o\nline\n"}},
             Only::Both,
             "",
             ".PAS"}});
}

TEST(VelkE2eTest, TwoHundredFirstDefineStopsTheRunWithTheLinesKeptSoFar) {
  std::vector<std::string> args;
  std::string text, kept;
  for (int i = 1; i <= 200; ++i) {
    const std::string n = std::to_string(i), line = "kept line " + n;
    args.insert(args.end(), {"-D", "N" + n});
    text += "#define D" + n + "\n" + line + "\n";
    kept += line + "\r\n";
  }
  args.insert(args.end(), {"n.src", "-D", "N201", "b.src"});
  const Files inputs = {{"n.src", "#ifdef N200\nlast\n#endif\n"},
                        {"c.src", text + "#define D201\nnever\n"}};
  RunCases({{args, {{"n.PAS", "last\r\n"}}, TooMany, 1, "", inputs},
            {{"c.src", "b.src"}, {{"c.PAS", kept}}, TooMany, 1, "", inputs}});
}

TEST(VelkE2eTest, FailedSystemCallsEndWithTheSystemsReasonOrAreTakenUpAgain) {
  const Files two = {{"a.src", "one\ntwo\n"}};
  const Files whole = {{"a.PAS", "one\r\ntwo\r\n"}}, none = {{"a.PAS", ""}};
  // An empty line, then 3000 lines of 64 bytes out; a named file is written out 65536 bytes at a
  // time, only once more bytes come than it has room for, and a stop writes out what waits. So
  // when a line's text fills a block exactly, the block waits for the line end, and a failed
  // second write-out loses exactly its own block, not the line end after it.
  std::string input = "\n", output = "\r\n";
  for (int i = 0; i < 3000; ++i) {
    std::string text = std::to_string(i) + " line";
    text.resize(62, '.');
    input += text + "\n";
    output += text + "\r\n";
  }
  const Files big = {{"big.src", input}};
  const Files cut = {{"big.PAS", output.substr(0, 65536) + output.substr(2 * 65536, 2)}};
  const Only P = Only::Posix;
  RunCases(
      {{{"a.src"}, whole, "", 0, "", two, P, "a.src openat:error=EINTR:when=1"},
       {{"a.src"}, whole, "", 0, "", two, P, "a.PAS openat:error=EINTR:when=1"},
       {{"a.src"}, whole, "", 0, "", two, P, "a.src read:error=EINTR:when=1+2"},
       {{"a.src"}, whole, "", 0, "", two, P, "a.PAS write:error=EINTR:when=1"},
       // said to take 2 bytes, it took none: the rest is written where the file ends
       {{"a.src"}, {{"a.PAS", "e\r\ntwo\r\n"}}, "", 0, "", two, P, "a.PAS write:retval=2:when=1"},
       {{"a.src"}, none, "", 101, "", two, P, "a.PAS write:retval=0:when=1"},
       {{"a.src"}, whole, "", 0, "", two, P, "a.PAS close:error=EINTR:when=1"},
       {{"a.src"}, whole, "", 160, "", two, P, "a.PAS close:error=EIO:when=1"},
       {{"a.src"}, whole, "", 112, "", two, P, "a.PAS close:error=ENOSPC:when=1"},
       {{"a.src"}, whole, "", 112, "", two, P, "a.PAS close:error=EDQUOT:when=1"},
       {{"a.src"}, whole, "", 0, "", two, P, "a.src close:error=EIO:when=1"},
       {{"a.src"}, none, "", 161, "", two, P, "a.src read:error=EIO:when=1"},
       {{"a.src"}, none, "", 160, "", two, P, "a.PAS write:error=EIO:when=1"},
       {{"big.src"}, cut, "", 112, "", big, P, "big.PAS write:error=ENOSPC:when=2"}});
}

const Program Probe(VELK_RUNTIME_PROBE, "VELK_TEST_PROBE");

#ifndef VELK_SANITIZE  // defined in a sanitized build, where the sanitizers catch faults first
#define VELK_SANITIZE 0
#endif

// What addr2line says about an address of the probe's report, with the routines placed inside;
// the point after a call (a return address, the place of a failed check) stands for the call.
std::string Place(const std::string& address, bool after_call) {
  std::ostringstream at;
  at << "0x" << std::hex << std::stoul(address, nullptr, 16) - after_call;
  return RunChild({"/usr/bin/env", Probe.Addr2Line, "-f", "-C", "-i", "-e", Probe.File, at.str()},
                  "/")
      .Stdout;
}

TEST(RuntimeErrorTest, EveryEndGivesItsStatusAndReportAndLeavesTheOutputFileWhole) {
  // A checked failure N calls down in FailCheckedClose walks its N + 1 frames, those of
  // Perform (twice: "flush" calls it again) and the driver's, which returns into the start-up.
  // Statuses from 200 on are real faults (or exhausted memory): their back-traces are at least
  // as long as given here.
  const std::tuple<std::vector<std::string>, int, std::size_t, std::string> cases[] = {
      {{"stop"}, 3, 0, ""},  // no report
      {{"io", "0"}, 103, 4, "FailCheckedClose"},
      {{"io", "30"}, 103, 34, "FailCheckedClose"},
      {{"io", "300"}, 103, 257, "FailCheckedClose"},
      {{"null"}, 216, 2, "ReadThroughNull"},
      {{"chain"}, 216, 1, "ReadThroughNull"},  // the walk ends where the chain leaves the stack
      {{"div"}, 200, 2, "DivideByZero"},
      {{"recurse"}, 202, 257, "Recurse"},
      {{"memory"}, 203, 3, "operator new"},
      {{"kill"}, -1, 0, ""}};  // a fault's signal sent by a process ends it as the signal does
  std::string lines;           // 100 lines are 892 bytes, far less than a named file's buffer
  for (int i = 1; i <= 100; ++i) {
    lines.append("line ").append(std::to_string(i)).append("\r\n");
  }
  for (const auto& [mode, status, frames, failed] : cases) {
    SCOPED_TRACE(mode[0] + " " + mode.back());
    const bool fault = status >= 200;
    // arm64 divides by zero without a fault (the quotient is 0): its run leaves that row out.
    const bool no_division_fault = std::getenv("VELK_TEST_NO_DIVISION_FAULT") != nullptr;
    if ((fault && VELK_SANITIZE) || (status < 0 && Probe.Windows) ||
        (mode[0] == "div" && no_division_fault)) {
      continue;
    }
    const TempDir dir;
    std::vector<std::string> args = {"flush", "100"};
    args.insert(args.end(), mode.begin(), mode.end());
    const Result run = RunChild(Probe.Command(args), dir.path);
    EXPECT_EQ(run.Status, status);
    EXPECT_EQ(run.Signal, status < 0 ? SIGSEGV : 0);
    EXPECT_EQ(ReadFile(dir.Join("flush.txt")), status < 0 ? "" : lines);
    if (failed.empty()) {
      EXPECT_EQ(run.Stdout, "");
      continue;
    }
    const std::vector<std::string> addresses = ReportAddresses(run.Stdout, status);
    if (fault) {
      ASSERT_GE(addresses.size(), frames + 1);
      EXPECT_LE(addresses.size(), 258u);
    } else {
      ASSERT_EQ(addresses.size(), frames + 1);
    }
    EXPECT_NE(Place(addresses[0], !fault).find(failed), std::string::npos);
    if (!fault && frames < 257) {
      EXPECT_NE(Place(addresses.back(), true).find("RuntimeStartup"), std::string::npos);
    }
  }
}

// "ROUTINE at FILE:LINE" as velk-resolve should give it for a statement: the line in the source
// tree's `file` that holds `statement`, the first after the one holding `after`, found anew in
// every build. `optional`: only a build in which the routine before it keeps a frame names it.
struct Statement {
  std::string routine, file, statement, after = {};
  bool optional = false;
};

std::string PlaceOf(const Statement& s) {
  std::istringstream source(ReadFile(std::string(VELK_SOURCE_DIR) + "/" + s.file));
  bool seen = s.after.empty();
  int number = 1;
  for (std::string line; std::getline(source, line); ++number) {
    if (seen && line.find(s.statement) != std::string::npos) {
      return s.file.substr(s.file.rfind('/') + 1) + ":" + std::to_string(number);
    }
    seen = seen || line.find(s.after) != std::string::npos;
  }
  ADD_FAILURE() << s.statement << " is not in " << s.file;
  return "";
}

TEST(RuntimeErrorTest, VelkResolveNamesTheStatementOfEveryAddress) {
  if (!Probe.Runner.empty() || Probe.Windows) {
    GTEST_SKIP() << "scripts/velk-resolve runs beside the programs it resolves";
  }
  const std::string probe = "tests/probe/runtime_probe.cpp", runtime = "src/runtime/";
  const Statement driver = {"Driver()", probe, "Perform(1);"},
                  startup = {"RuntimeStartup", runtime + "startup.cpp", "driver();"};
  // Innermost first, every address's routines in turn: a checked error two calls down, memory
  // exhausted (the allocator's own return address first) and an access violation.
  const std::tuple<std::vector<std::string>, int, std::vector<Statement>> cases[] = {
      {{"io", "2"},
       103,
       {{"CheckIo", runtime + "runtime_error.h", "RaiseIoError();", "void CheckIo()"},
        {"FailCheckedClose", probe, "velk::CheckIo();"},
        {"FailCheckedClose(int)", probe, "FailCheckedClose(levels - 1);"},
        {"FailCheckedClose(int)", probe, "FailCheckedClose(levels - 1);"},
        {"Perform(int)", probe, "FailCheckedClose(count);"},
        driver,
        startup}},
      {{"memory"},
       203,
       {{"operator new(", runtime + "runtime_error.cpp", "memory_exhausted_handler();", "new("},
        {"operator new[]", runtime + "runtime_error.cpp", "return ::operator new(size);"},
        {"ExhaustMemory", probe, "new char[huge_size];"},
        {"Perform(int)", probe, "ExhaustMemory();", "Perform(int at)"},
        driver,
        startup}},
      {{"null"},
       216,
       {{"ReadThroughNull()", probe, "number = *null_pointer;"},
        {"Perform(int)", probe, "ReadThroughNull();", "Perform(int at)", true},
        driver,
        startup}}};
  for (const auto& [mode, status, statements] : cases) {
    SCOPED_TRACE(mode[0]);
    if (VELK_SANITIZE && status >= 200) {
      continue;
    }
    const TempDir dir;
    const Result run = RunChild(Probe.Command(mode), dir.path);
    ASSERT_EQ(run.Status, status);
    const std::vector<std::string> addresses = ReportAddresses(run.Stdout, status);
    const Result resolved = RunChild({"/bin/sh", "-c", "exec 2>&1 /bin/bash \"$0\" -e \"$1\"",
                                      VELK_SOURCE_DIR "/scripts/velk-resolve", Probe.File},
                                     dir.path, run.Stdout);
    if (!VELK_DEBUG_INFO) {  // it says so, and what gives it, instead of "??" everywhere
      EXPECT_EQ(resolved.Status, 1);
      EXPECT_TRUE(resolved.Stdout.starts_with("velk-resolve: no debugging information for "));
      EXPECT_NE(resolved.Stdout.find("velk-dbgsym"), std::string::npos) << resolved.Stdout;
      continue;
    }
    EXPECT_EQ(resolved.Status, 0);
    std::istringstream lines(resolved.Stdout);
    std::size_t address = 0, at = 0;
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("  ")) {  // an address: the report's next one
        ASSERT_LT(address, addresses.size()) << line;
        EXPECT_EQ(line, "0x" + addresses[address++]);
        continue;
      }
      for (; at < statements.size(); ++at) {
        const Statement& s = statements[at];
        const std::string place = PlaceOf(s), file = "/" + place,
                          line_only = ">" + place.substr(place.find(':'));
        const bool holds = line.find(s.routine) != std::string::npos &&
                           (line.ends_with(file) || line.ends_with(line_only));
        if (holds || !s.optional) {
          // addr2line may give "<artificial>" for the file of a routine in a program linked as one
          EXPECT_TRUE(holds) << line << " is not " << s.routine << " at " << place;
          break;
        }
      }
      ++at;
    }
    EXPECT_EQ(address, addresses.size());
    EXPECT_EQ(at, statements.size());
  }
}

TEST(RuntimeErrorTest, ABackTraceOnATerminalStopsAfterNineFrames) {
  if (Probe.Windows) {
    GTEST_SKIP() << "a pseudo-terminal is a POSIX device";
  }
  // script gives the probe a pseudo-terminal as its output, which writes "\n" as "\r\n".
  const Result run = RunChild(
      {"/usr/bin/script", "-qec", Probe.Runner + " " + Probe.File + " io 30", "/dev/null"}, "/");
  EXPECT_EQ(run.Status, 103);
  std::string bytes = run.Stdout;
  for (std::size_t at = 0; (at = bytes.find("\r\r\n", at)) != std::string::npos;) {
    bytes.erase(at, 1);
  }
  EXPECT_EQ(ReportAddresses(bytes, 103).size(), 10u);
}

// velk at scale (label "stress"), held to a limit on the memory it may allocate that a small run
// keeps far below (under 1 MiB) and to sixteen descriptors: ten thousand files in one run, and a
// 1 GiB stream with a 10 MB line. A buffer kept per file, a leak per line or a line kept whole
// would need more.
const Limits Small{.Seconds = 300, .MemoryMiB = 6, .Descriptors = 16};

TEST(StressTest, TenThousandFilesInOneRun) {
  const TempDir dir;
  std::vector<std::string> args = {"-D", "F"};
  for (int i = 0; i < 10000; ++i) {
    args.push_back(std::to_string(100000 + i) + ".src");
    WriteFile(dir.Join(args.back()), "#ifdef F\nfile " + args.back() + "\n");
  }
  const Result run = RunChild(Velk.Command(args), dir.path, "", Small);
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Stdout, "");
  for (int i = 0; i < 10000; ++i) {
    const std::string name = std::to_string(100000 + i);
    ASSERT_EQ(ReadFile(dir.Join(name + ".PAS")), "file " + name + ".src\r\n") << name;
  }
}

TEST(StressTest, OneGibibyteWithATenMegabyteLineStreamedThroughPipes) {
  const TempDir dir;
  // velk opens both files by name: the pipe it reads from, and the one it writes to.
  fs::create_symlink("/dev/stdin", dir.Join("big.src"));
  fs::create_symlink("/dev/stdout", dir.Join("big.PAS"));
  // A 10 MB line, cut to 255 bytes; then each MiB one kept line with a replacement and the
  // lines of a false block.
  std::string block = "#endif\nMAX;\n#ifdef NEVER\n", expected = std::string(255, 'l') + "\r\n";
  for (int i = 0; i < 16383; ++i) {
    block += std::string(63, 's') + "\n";
  }
  WriteFile(dir.Join("block"), block);
  const std::string script =
      "{ printf '#define MAX 100\\n'; head -c 10000000 /dev/zero | tr '\\0' l; "
      "printf '\\n#ifdef NEVER\\n'; for i in $(seq 1024); do cat block; done; "
      "printf '#endif\\nend\\n'; } | exec \"$@\" big.src";
  std::vector<std::string> command = Velk.Command({});
  command.insert(command.begin(), {"/bin/sh", "-c", script, "sh"});
  const Result run = RunChild(command, dir.path, "", Small);
  EXPECT_EQ(run.Status, 0);
  for (int i = 0; i < 1024; ++i) {
    expected += "100;\r\n";
  }
  EXPECT_EQ(run.Stdout, expected + "end\r\n");
}
