// A small program on the runtime alone, run as a child process by the
// runtime_error tests. Its arguments name what it does before it ends:
//
//   stop                 writes one line, then stops with status 3 and no report
//   io                   a checked close of a channel that is not open (103)
//   deep N               the same check N calls further down
//   null | div           a real null dereference (216) or division by zero (200)
//   memory               asks operator new for more than the system can give (203)
//   flush N MODE...      writes N numbered lines to flush.txt, then goes on with MODE
//   normal               returns from the driver
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/arguments.h"
#include "runtime/runtime_error.h"
#include "runtime/startup.h"
#include "runtime/text_file.h"

namespace {

velk::TextFile probe_file;   // the output file of "flush"
velk::TextFile closed_file;  // bound but never opened
volatile int depth_sum = 0;  // keeps every level of the recursion a real call
int* volatile null_pointer = nullptr;
volatile int divisor = 0;
volatile std::size_t huge_size = std::size_t{1} << 62;
char* volatile kept_block = nullptr;

void WriteLine(velk::TextFile& file, const std::string& text) {
  velk::WriteText(file, text, 0);
  velk::EndLine(file);
  velk::CheckIo();
}

[[gnu::noinline]] void FailCheckedClose() {
  velk::BindTextFile(closed_file, "never-opened.txt");
  velk::CloseTextFile(closed_file);
  velk::CheckIo();
  WriteLine(velk::StandardOutput, "not reached");
}

[[gnu::noinline]] int Descend(int levels) {
  if (levels == 0) {
    FailCheckedClose();
    return 0;
  }
  const int below = Descend(levels - 1);
  depth_sum = depth_sum + below;
  return below + 1;
}

[[gnu::noinline]] int ReadThroughNull() {
  return *null_pointer + 1;
}

[[gnu::noinline]] int DivideByZero() {
  return 1000 / divisor + 1;
}

[[gnu::noinline]] void ExhaustMemory() {
  kept_block = new char[huge_size];
  kept_block[0] = 'x';
}

void WriteNumberedLines(int count) {
  velk::BindTextFile(probe_file, "flush.txt");
  velk::OpenForWriting(probe_file);
  velk::CheckIo();
  for (int i = 1; i <= count; ++i) {
    WriteLine(probe_file, "line " + std::to_string(i));
  }
}

// Does what argument `at` says; its number, when it takes one, follows it.
[[gnu::noinline]] void Perform(std::int32_t at) {
  const std::string mode = velk::ArgumentAt(at);
  const int number = std::atoi(velk::ArgumentAt(at + 1).c_str());
  if (mode == "stop") {
    WriteLine(velk::StandardOutput, "stopping");
    velk::StopProgram(3);
  } else if (mode == "io") {
    FailCheckedClose();
  } else if (mode == "deep") {
    depth_sum = Descend(number);
  } else if (mode == "null") {
    depth_sum = ReadThroughNull();
  } else if (mode == "div") {
    depth_sum = DivideByZero();
  } else if (mode == "memory") {
    ExhaustMemory();
  } else if (mode == "flush") {
    WriteNumberedLines(number);
    Perform(at + 2);
  } else if (mode != "normal") {
    WriteLine(velk::StandardOutput, "unknown mode " + mode);
    velk::StopProgram(99);
  }
}

void Driver() {
  Perform(1);
  velk::CheckIo();
}

}  // namespace

int main(int argc, char** argv) {
  velk::RuntimeStartup(argc, argv, Driver);
}
