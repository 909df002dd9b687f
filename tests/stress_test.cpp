// velk at scale: many files, huge inputs, deep nesting, a full table and
// random bytes. Each run ends with the output worked out here by
// construction or with the plain line model of fuzz/line_model.h, and the
// memory and descriptors it needed are held to what a small run needs.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "line_model.h"
#include "test_support.h"

namespace velk {
namespace {

using testing::ChildResult;
using testing::ReadFileBytes;
using testing::ScopedTempDir;
using testing::WriteFileBytes;

// velk, started by a small launcher that measures its memory.
const testing::ProgramUnderTest Measured{VELK_PEAK_MEMORY, "", false};

// Arguments for the launcher: where the figure goes, velk, velk's arguments.
std::vector<std::string> MeasuredArgs(const ScopedTempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {dir.Join("peak"), VELK_BINARY});
  return args;
}

// What the launcher measured, in KiB.
long PeakKiB(const ScopedTempDir& dir) {
  return std::atol(ReadFileBytes(dir.Join("peak")).c_str());
}

// velk's memory for a one-line file, in KiB, and what a bigger run may
// hold beyond it: its arguments (10,000 take about 1 MiB) and little more.
// A buffer kept per file or per line would take hundreds of MiB.
long SmallRunKiB() {
  static const long kib = [] {
    const ScopedTempDir dir;
    WriteFileBytes(dir.Join("small.src"), "small\n");
    testing::RunChild(Measured, MeasuredArgs(dir, {"small.src"}), dir.path());
    return PeakKiB(dir);
  }();
  return kib;
}
constexpr long MemoryAllowanceKiB = 2048;

// Holds a run's memory to a small run's, and records both figures.
void ExpectSmallRunMemory(long peak_kib) {
  ::testing::Test::RecordProperty("PeakKiB", std::to_string(peak_kib));
  ::testing::Test::RecordProperty("SmallRunKiB", std::to_string(SmallRunKiB()));
  EXPECT_LT(peak_kib - SmallRunKiB(), MemoryAllowanceKiB);
}

// Runs velk on a file holding `input`; gives its output file.
std::string RunOn(const std::string& input, long* peak_kib = nullptr) {
  const ScopedTempDir dir;
  WriteFileBytes(dir.Join("in.src"), input);
  const ChildResult run =
      testing::RunChild(Measured, MeasuredArgs(dir, {"in.src"}), dir.path(), "", 120);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, "");
  if (peak_kib != nullptr) {
    *peak_kib = PeakKiB(dir);
  }
  return ReadFileBytes(dir.Join("in.PAS"));
}

TEST(StressTest, TenThousandFilesInOneRunWithSixteenDescriptors) {
  const ScopedTempDir dir;
  const auto file = [](int i, const char* extension) {
    return std::string("f").append(std::to_string(100000 + i)).append(extension);
  };
  std::vector<std::string> args;
  for (int i = 0; i < 10000; ++i) {
    args.push_back(file(i, ".src"));
    WriteFileBytes(dir.Join(args.back()), "#ifdef F\nfile " + std::to_string(i) + "\n");
  }
  args.insert(args.begin(), {"-D", "F"});
  args = MeasuredArgs(dir, args);
  // A descriptor left open per file would use up the sixteen long before the end.
  const auto body = [&] {
    const rlimit limit{16, 16};
    setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<char*> argv = {const_cast<char*>(VELK_PEAK_MEMORY)};
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
  };
  const ChildResult run = testing::RunForked(body, dir.path(), "", 120);
  EXPECT_EQ(run.ExitStatus, 0);
  EXPECT_EQ(run.Stdout, "");
  for (int i = 0; i < 10000; ++i) {
    const std::string name = dir.Join(file(i, ".PAS"));
    ASSERT_EQ(ReadFileBytes(name), "file " + std::to_string(i) + "\r\n") << name;
  }
  ExpectSmallRunMemory(PeakKiB(dir));
}

TEST(StressTest, OneGibibyteStreamedThroughAPipeInConstantMemory) {
  std::signal(SIGPIPE, SIG_IGN);
  const ScopedTempDir dir;
  // velk opens both files by name: the input is the pipe it reads from, the output the one it
  // writes to.
  std::filesystem::create_symlink("/dev/stdin", dir.Join("big.src"));
  std::filesystem::create_symlink("/dev/stdout", dir.Join("big.PAS"));
  // Each MiB: one kept line with a replacement, then lines of a false block.
  std::string block = "#endif\nMAX;\n#ifdef NEVER\n";
  const std::string skipped = std::string(63, 's') + "\n";
  while (block.size() + skipped.size() <= (1u << 20)) {
    block += skipped;
  }
  block += std::string((1u << 20) - block.size() - 1, 't') + "\n";
  testing::BackgroundChild velk(Measured, MeasuredArgs(dir, {"big.src"}), dir.path());
  bool taken = velk.Write("#define MAX 100\n#ifdef NEVER\n");
  for (int i = 0; i < 1024 && taken; ++i) {
    taken = velk.Write(block);
  }
  taken = taken && velk.Write("#endif\nend\n");
  EXPECT_TRUE(taken);
  const ChildResult run = velk.Finish();
  EXPECT_EQ(run.ExitStatus, 0);
  std::string expected;
  for (int i = 0; i < 1024; ++i) {
    expected += "100;\r\n";
  }
  EXPECT_EQ(run.Stdout, expected + "end\r\n");
  ExpectSmallRunMemory(PeakKiB(dir));
}

TEST(StressTest, ATenMegabyteLineKeepsItsFirst255Bytes) {
  long peak_kib = 0;
  const std::string start(255, 'L');
  EXPECT_EQ(RunOn(start + std::string(10'000'000, 'l') + "\nafter\n", &peak_kib),
            start + "\r\nafter\r\n");
  ExpectSmallRunMemory(peak_kib);
}

TEST(StressTest, AMillionNestedBlocksTrueAndFalse) {
  std::string input = "#define V v\n";
  const auto nest = [&input](const std::string& inner) {
    for (int i = 0; i < 1'000'000; ++i) {
      input += "#ifdef V\n";
    }
    input += inner;
    for (int i = 0; i < 1'000'000; ++i) {
      input += "#endif\n";
    }
  };
  nest("V\n");
  input += "#ifdef U\n";
  nest("inner\n");
  input += "outer\n#endif\nend\n";
  EXPECT_EQ(RunOn(input), "v\r\nend\r\n");
}

TEST(StressTest, TwoHundredFortyByteNamesOverALongFile) {
  const auto name = [](int i) {
    return std::string("N").append(std::to_string(100 + i)).append(36, 'x');
  };
  std::string input, expected;
  for (int i = 0; i < 200; ++i) {
    input += "#define " + name(i) + " v" + std::to_string(i) + "\n";
  }
  // Two names in each line: the one defined first is replaced, wherever it stands.
  for (int k = 0; k < 20000; ++k) {
    const int late = 199 - k % 200, early = k % 200;
    const int first = std::min(late, early), second = std::max(late, early);
    input += "a " + name(late) + " b " + name(early) + "\n";
    const std::string replaced = std::string("v").append(std::to_string(first));
    expected += "a " + (late == first ? replaced : name(second)) + " b " +
                (early == first ? replaced : name(second)) + "\r\n";
  }
  EXPECT_EQ(RunOn(input), expected);
}

TEST(StressTest, RandomBytesGiveTheLinesOfThePlainModel) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::string alphabet(
      "\0\xff\r\n\x1a"
      "a# ",
      8);
  std::string input;
  for (int i = 0; i < 4'000'000; ++i) {
    char c = alphabet[random() % alphabet.size()];
    if (c == '\x1a' && !input.empty() && (input.back() == '\n' || input.back() == '\r')) {
      c = 'z';  // Ctrl-Z at the start of a line would end the input here
    }
    input += c;
  }
  input +=
      "\n\x1a"
      "after the end\n";
  std::string expected;
  for (const std::string& line : model::Lines(input, 255)) {
    expected += line + "\r\n";
  }
  EXPECT_EQ(RunOn(input), expected);
}

}  // namespace
}  // namespace velk
