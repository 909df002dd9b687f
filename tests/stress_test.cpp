// velk at scale, held to a limit on the memory it may allocate that a small run keeps far below
// (under 1 MiB) and to sixteen descriptors: ten thousand files in one run, a 1 GiB stream and a
// 10 MB line. A buffer kept per file, a leak per line or a line kept whole would need more.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace velk {
namespace {

using namespace testing;

const Program Velk(VELK_BINARY, "VELK_TEST_VELK");
const Limits Small{.Seconds = 300, .MemoryMiB = 6, .Descriptors = 16};

TEST(StressTest, TenThousandFilesInOneRun) {
  const TempDir dir;
  const auto file = [](int i, const char* extension) {
    return "f" + std::to_string(100000 + i) + extension;
  };
  std::vector<std::string> args = {"-D", "F"};
  for (int i = 0; i < 10000; ++i) {
    args.push_back(file(i, ".src"));
    WriteFile(dir.Join(args.back()), "#ifdef F\nfile " + std::to_string(i) + "\n");
  }
  const Result run = RunChild(Velk.Command(args), dir.path, "", Small);
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Stdout, "");
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(ReadFile(dir.Join(file(i, ".PAS"))), "file " + std::to_string(i) + "\r\n") << i;
  }
}

TEST(StressTest, OneGibibyteStreamedThroughPipes) {
  const TempDir dir;
  // velk opens both files by name: the pipe it reads from, and the one it writes to.
  std::filesystem::create_symlink("/dev/stdin", dir.Join("big.src"));
  std::filesystem::create_symlink("/dev/stdout", dir.Join("big.PAS"));
  // Each MiB: one kept line with a replacement, then lines of a false block.
  std::string block = "#endif\nMAX;\n#ifdef NEVER\n", expected;
  for (int i = 0; i < 16383; ++i) {
    block += std::string(63, 's') + "\n";
  }
  WriteFile(dir.Join("block"), block);
  const std::string script =
      "{ printf '#define MAX 100\\n#ifdef NEVER\\n'; for i in $(seq 1024); do cat block; done; "
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

TEST(StressTest, ATenMegabyteLineKeepsItsFirst255Bytes) {
  const TempDir dir;
  const std::string start(255, 'L');
  WriteFile(dir.Join("in.src"), start + std::string(10'000'000, 'l') + "\nafter\n");
  const Result run = RunChild(Velk.Command({"in.src"}), dir.path, "", Small);
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(ReadFile(dir.Join("in.PAS")), start + "\r\nafter\r\n");
}

}  // namespace
}  // namespace velk
