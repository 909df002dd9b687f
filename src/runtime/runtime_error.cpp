#include "runtime/runtime_error.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "runtime/bounded_string.h"
#include "runtime/platform.h"
#include "runtime/text_file.h"

namespace velk {

std::uint16_t ExitStatus = 0;    // handed to the system at the end
std::uint16_t ErrorNumber = 0;   // the number in the report
std::uint32_t ErrorAddress = 0;  // where the error was raised; 0: no report
std::uintptr_t ErrorFrame = 0;   // where the back-trace starts; 0: none

namespace {

std::uintptr_t outermost_frame = 0;  // the frame that called the driver
bool shutting_down = false;          // RuntimeShutdown has begun

// Back-trace limits: a terminal shows a short trace, a file or pipe a long one.
constexpr int TerminalFrameLimit = 8;
constexpr int FrameLimit = 256;

// The platform reads a frame only where the stack really is, so that a
// corrupt chain ends the walk instead of faulting while the report is written.
FrameLink ReadFrame(std::uintptr_t frame) {
  FrameLink link = PlatformReadFrame(frame);
  if (link.CallerFrame == outermost_frame) {
    link.CallerFrame = 0;  // the driver's frame ends every chain
  }
  return link;
}

std::uint32_t RelativeAddress(std::uintptr_t address) {
  return static_cast<std::uint32_t>(address - PlatformLoadBias());
}

void WriteAddressLine(std::uint32_t address) {
  WriteText(ReportOutput, AddressText(address), 0);
  EndLine(ReportOutput);
}

// One line per frame from ErrorFrame towards the driver. Frames lie at
// rising addresses, so the walk goes on only while they keep rising.
void WriteBackTrace() {
  const bool to_terminal = PlatformIsCharDevice(ReportOutput.SystemHandle);
  auto current = static_cast<std::intptr_t>(ErrorFrame);
  std::intptr_t previous = current - 1;
  int count = 0;
  while (current > previous) {
    const FrameLink link = ReadFrame(static_cast<std::uintptr_t>(current));
    if (link.ReturnAddress != 0) {
      WriteAddressLine(RelativeAddress(link.ReturnAddress));
    }
    ++count;
    if ((count > TerminalFrameLimit && to_terminal) || count > FrameLimit) {
      return;
    }
    previous = current;
    current = static_cast<std::intptr_t>(link.CallerFrame);
  }
}

// Nothing checks the I/O code here: a failed write only makes the rest of
// the report silent, and the process still ends with its status.
void WriteRuntimeErrorReport() {
  IoErrorCode = 0;  // a code left pending by the failing statement must not mute the report
  WriteText(ReportOutput, "Runtime error ", 0);
  WriteInteger(ReportOutput, ErrorNumber, 0);
  WriteText(ReportOutput, " at 0x", 0);
  WriteText(ReportOutput, HexText(ErrorAddress, 8), 0);
  EndLine(ReportOutput);
  WriteAddressLine(ErrorAddress);
  WriteBackTrace();
  EndLine(ReportOutput);
}

void OnFault(const FaultInfo& fault) {
  RaiseRuntimeError(fault.Number, fault.Where.Address, fault.Where.Frame);
}

// The heap could not meet a request. The allocator below calls this from
// its retry loop: the report names the point in the allocator, and the
// back-trace starts at the allocator's frame, so its first line is the
// place that asked for the memory.
[[gnu::noinline]] void OnMemoryExhausted() {
  const CodePoint allocator = PlatformCallerPoint();
  RaiseRuntimeError(HeapOverflowError, allocator.Address, allocator.Frame);
}

// Called by the allocator when the heap cannot meet a request; null until
// the fault handling is installed.
void (*memory_exhausted_handler)() = nullptr;

}  // namespace

void SetOutermostFrame(std::uintptr_t frame) { outermost_frame = frame; }

void InstallFaultHandling() {
  PlatformInstallFaultHandler(OnFault);
  memory_exhausted_handler = OnMemoryExhausted;
#if defined(VELK_SANITIZE)
  std::set_new_handler(OnMemoryExhausted);  // the sanitizer's allocator asks it
#endif
}

void StopProgram(std::uint8_t status) {
  ExitStatus = status;
  RuntimeShutdown();
}

[[gnu::noipa]] void RaiseIoError() {
  const std::uint16_t code = IoErrorCode;
  IoErrorCode = 0;
  // The point in the caller just after the check, and the caller's frame.
  const CodePoint caller = PlatformCallerPoint();
  RaiseRuntimeError(code, caller.Address, caller.Frame);
}

void RaiseRuntimeError(std::uint16_t number, std::uintptr_t address, std::uintptr_t frame) {
  // A fault while the process is already ending keeps the status it had.
  if (shutting_down) {
    PlatformExit(ExitStatus);
  }
  ErrorNumber = number;
  ExitStatus = number;
  ErrorAddress = RelativeAddress(address);
  ErrorFrame = frame;
  RuntimeShutdown();
}

void RuntimeShutdown() {
  if (shutting_down) {
    PlatformExit(ExitStatus);
  }
  shutting_down = true;
  // Output files still open keep every line written before the stop.
  FlushOpenOutputChannels();
  if (ErrorAddress != 0) {
    WriteRuntimeErrorReport();
  }
  PlatformRemoveFaultHandler();
  PlatformExit(ExitStatus);
}

}  // namespace velk

#if !defined(VELK_SANITIZE)
// The program's own allocator: the system heap, with the retry loop that
// asks the handler for exhausted memory when a request cannot be met. It
// keeps a frame record, so a report of exhausted memory can name the place
// that asked. Nothing here throws, so the program needs none of the C++
// library's run-time. The sanitizer builds keep their checking allocator.
// Never placed inside its callers: a report of exhausted memory names a
// point in it and begins its back-trace with its frame.
[[gnu::noinline]] void* operator new(std::size_t size) {
  // No block can be larger than half the address space: such a request is
  // one the heap cannot meet, and is not handed to it.
  const bool possible = size <= static_cast<std::size_t>(PTRDIFF_MAX);
  for (;;) {
    if (void* block = possible ? std::malloc(size == 0 ? 1 : size) : nullptr) {
      return block;
    }
    if (velk::memory_exhausted_handler == nullptr) {
      std::abort();
    }
    velk::memory_exhausted_handler();
  }
}

void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
#endif
