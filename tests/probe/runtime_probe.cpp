// A small program on the runtime alone that the tests run as a child process.
// "flush N" first writes N numbered lines to flush.txt, then it ends as the
// next argument says: "stop" (status 3), "io N" (a checked close of a channel
// never opened, N calls down), "null", "div", "recurse", "memory" or "chain"
// (a fault in a routine whose link to its caller's frame points off the
// stack, as a stray write could leave it). "kill"
// sends itself the signal of a fault, as another process could. Its routines
// stay as written (noipa: not inlined, split or cloned, also when the build
// optimises the whole program), so that a back-trace has the same lines in
// every build.
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/arguments.h"
#include "runtime/runtime_error.h"
#include "runtime/startup.h"
#include "runtime/text_file.h"

namespace {

velk::TextFile output, never_opened;
volatile int number = 0;  // read and written, so that no call or fault is optimised away
int* volatile null_pointer = nullptr;
char* volatile block = nullptr;
volatile std::size_t huge_size = SIZE_MAX - 0xFFFF;  // more than any address space holds
volatile int never = -1;                             // a depth the recursion never reaches

[[gnu::noipa]] int FailCheckedClose(int levels) {
  if (levels > 0) {
    number = FailCheckedClose(levels - 1);
    return levels;
  }
  velk::BindTextFile(never_opened, "never-opened.txt");
  velk::CloseTextFile(never_opened);
  velk::CheckIo();
  return 0;
}

[[gnu::noipa]] void ReadThroughNull() { number = *null_pointer; }
[[gnu::noipa]] void DivideByZero() { number = 1000 / number; }

// The first word of a frame record, or of an s390x frame, is the link to
// the caller's frame. x64 Windows walks its unwind tables, not these links.
// The fault comes in a routine called with the broken link in place.
[[gnu::noipa]] void FaultOnBrokenChain() {
#if !(defined(_WIN32) && defined(__x86_64__))
  auto* link = static_cast<std::uintptr_t*>(__builtin_frame_address(0));
  *link = static_cast<std::uintptr_t>(INTPTR_MAX) & ~std::uintptr_t{15};  // above any stack
  std::atomic_signal_fence(std::memory_order_seq_cst);
#endif
  ReadThroughNull();
  number = 0;  // no tail call: this frame stays while the fault is taken
}
[[gnu::noipa]] void ExhaustMemory() { block = new char[huge_size]; }

[[gnu::noipa]] int Recurse(int depth) {
  volatile char frame[64];
  frame[0] = static_cast<char>(depth);
  if (depth == never) {
    return 0;
  }
  return Recurse(depth + 1) + frame[0];
}

[[gnu::noipa]] void Perform(int at) {
  const std::string mode(velk::ArgumentAt(at));
  const int count = std::atoi(std::string(velk::ArgumentAt(at + 1)).c_str());
  if (mode == "flush") {
    velk::BindTextFile(output, "flush.txt");
    velk::OpenForWriting(output);
    for (int i = 1; i <= count; ++i) {
      velk::WriteText(output, "line " + std::to_string(i), 0);
      velk::EndLine(output);
    }
    Perform(at + 2);
  } else if (mode == "stop") {
    velk::StopProgram(3);
  } else if (mode == "io") {
    FailCheckedClose(count);
  } else if (mode == "null") {
    ReadThroughNull();
  } else if (mode == "div") {
    DivideByZero();
  } else if (mode == "chain") {
    FaultOnBrokenChain();
  } else if (mode == "memory") {
    ExhaustMemory();
  } else if (mode == "recurse") {
    number = Recurse(number);
  } else if (mode == "kill") {
    std::raise(SIGSEGV);
  }
}

// The driver keeps a frame of its own (the store after the call is no tail
// call), so that a back-trace has the same lines in every build.
[[gnu::noipa]] void Driver() {
  Perform(1);
  number = 0;
}

}  // namespace

int main(int argc, char** argv) { velk::RuntimeStartup(argc, argv, Driver); }
