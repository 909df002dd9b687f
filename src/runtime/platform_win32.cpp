// The platform layer on Windows (x64 and x86), through kernel32 as the
// program was first written for. Handles are the system's own; they fit in
// 32 bits, so they travel sign-extended in a SystemHandle32, INVALID_HANDLE_VALUE as
// NoHandle. Error numbers are GetLastError's own, which is the numbering the
// rest of the program uses. Files are opened with share mode 0, so the
// system itself refuses a second opener (32, a sharing violation); the
// channels' list of held handles is still looked at, for a handle the
// program did not open itself (standard input redirected from a file).
// Names are passed as typed: the system takes both "/" and "\" between
// directories.
//
// A few system errors come in several numbers for one cause; they are
// folded here, once, into the number the rest of the program knows (see
// WriteErrorNumber and ReadFailureKind), and the standard handles are
// checked before any file is opened (see LearnStandardHandles).
//
// Back-traces differ by processor (see Back-traces below): on x64 they walk
// the unwind tables, on x86 the chain of frame pointers.

#include "runtime/platform_win32.h"

#include <windows.h>

#include <cstring>

#include "runtime/platform.h"

#if !defined(__x86_64__) && !defined(__i386__)
#error "the Windows platform layer walks the frames of x64 and x86 only"
#endif
#if !defined(VELK_LINKED_IMAGE_BASE)
#error "the build names the image base it links at in VELK_LINKED_IMAGE_BASE"
#endif

namespace velk {

namespace {

constexpr DWORD StackOverflowCode = 0xC00000FD;
constexpr LONG ContinueSearch = 0;  // hand the exception on to the next handler

// The stack Windows keeps back below the guard page for the handling of a
// stack overflow. Without it only what is left of the guard page is there
// for the exception frame (an x64 CONTEXT alone is 1232 bytes), the
// dispatcher and OnStackOverflow, and Windows ends the process without a
// report when they do not fit. 64 KiB holds them many times over, and would
// hold the report itself; it is taken from the 32 MiB the image reserves.
constexpr ULONG OverflowStackGuarantee = 64 * 1024;

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers do not name.
constexpr DWORD DiskQuotaExceeded = 1295;

DWORD last_error = 0;                  // what PlatformLastError reports
FaultHandler fault_handler = nullptr;  // where taken faults go
PVOID overflow_handler = nullptr;      // the vectored handler for stack overflows
std::uintptr_t stack_low = 0;          // the main thread's stack, lowest address
std::uintptr_t stack_high = 0;         // one past its highest address
std::uintptr_t load_bias = 0;          // loaded base minus linked base
bool on_emergency_stack = false;       // a stack overflow is being reported

const EXCEPTION_POINTERS* overflow = nullptr;  // the stack overflow being reported

// A stack overflow leaves too little stack for anything but a switch to this
// one, which is reserved in the image for the report.
alignas(16) unsigned char emergency_stack[128 * 1024];

HANDLE ToHandle(SystemHandle32 handle) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

SystemHandle32 FromHandle(HANDLE handle) {
  return static_cast<SystemHandle32>(reinterpret_cast<std::intptr_t>(handle));
}

bool IsFailedOpen(HANDLE handle) { return handle == nullptr || FromHandle(handle) == NoHandle; }

void Fail() { last_error = GetLastError(); }

bool IsStackAddress(std::uintptr_t address, std::size_t size) {
  return address >= stack_low && address < stack_high && size <= stack_high - address;
}

// ---- Back-traces ----------------------------------------------------------
//
// x64: the compiler keeps no usable chain of frame pointers, so the walk
// follows the unwind tables (RtlLookupFunctionEntry and RtlVirtualUnwind).
// A frame reference is the stack pointer of the routine; the walk keeps the
// context it has reached, so each step goes out from the frame the previous
// step gave.
//
// x86: routines keep their frames (the build asks for frame pointers, in
// leaf routines too), so a frame reference is a routine's EBP. It points at
// two words: the caller's EBP and, above it, the routine's return address.
// Every word is read only where the stack is, so that a corrupt chain ends
// the walk instead of faulting while the report is written. (A leaf routine
// that uses no stack at all makes no frame even so: a fault there names it
// on the report's first line, and the walk goes on from its caller's frame,
// without the caller.)

constexpr std::size_t Word = sizeof(std::uintptr_t);

#if defined(__x86_64__)

alignas(16) CONTEXT walk;    // where the back-trace walk has got to
bool walk_at_fault = false;  // walk.Rip is a faulting instruction

std::uintptr_t StackPointer(const CONTEXT& context) { return context.Rsp; }

// Takes `context` out of its routine into the caller. A routine without
// unwind data is a leaf that keeps its return address on top of the stack.
bool StepOut(CONTEXT& context, bool at_fault) {
  DWORD64 image_base = 0;
  // A return address may be the first byte after its routine: look it up
  // one byte back. A faulting instruction is inside its routine.
  const DWORD64 lookup = at_fault ? context.Rip : context.Rip - 1;
  PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(lookup, &image_base, nullptr);
  if (function == nullptr) {
    if (!IsStackAddress(context.Rsp, sizeof(DWORD64))) {
      return false;
    }
    std::memcpy(&context.Rip, reinterpret_cast<const void*>(context.Rsp), sizeof(DWORD64));
    context.Rsp += sizeof(DWORD64);
    return true;
  }
  PVOID handler_data = nullptr;
  DWORD64 establisher_frame = 0;
  RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data,
                   &establisher_frame, nullptr);
  return true;
}

// The frame reference of the faulting routine, where the walk starts.
std::uintptr_t StartWalkAtFault(const CONTEXT& context) {
  std::memcpy(&walk, &context, sizeof walk);
  walk_at_fault = true;
  return static_cast<std::uintptr_t>(walk.Rsp);
}

#else  // x86

std::uintptr_t StackPointer(const CONTEXT& context) { return context.Esp; }

std::uintptr_t StackWord(std::uintptr_t address) {
  return *reinterpret_cast<const std::uintptr_t*>(address);
}

std::uintptr_t StartWalkAtFault(const CONTEXT& context) { return context.Ebp; }

// The frame of the routine that called the routine this is written in
// (both keep their frames: they are never inlined): the first word of this
// routine's own frame, which it has just made.
[[gnu::always_inline]] inline std::uintptr_t CallersFrame() {
  const auto own = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  return IsStackAddress(own, Word) ? StackWord(own) : 0;
}

#endif

// Hands the fault on, with the walk started at the faulting context.
void TakeFault(const EXCEPTION_POINTERS& info, std::uint16_t number) {
  const auto address = reinterpret_cast<std::uintptr_t>(info.ExceptionRecord->ExceptionAddress);
  fault_handler(FaultInfo{number, CodePoint{address, StartWalkAtFault(*info.ContextRecord)}});
}

std::uint16_t TakenNumber(const EXCEPTION_POINTERS& info) {
  if (fault_handler == nullptr || !IsStackAddress(StackPointer(*info.ContextRecord), Word)) {
    return 0;  // no usable frame: the system's default handling
  }
  return FaultNumberForException(info.ExceptionRecord->ExceptionCode);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  const std::uint16_t number = TakenNumber(*info);
  if (number != 0) {
    TakeFault(*info, number);
  }
  return ContinueSearch;
}

[[noreturn]] void ReportOverflow() {
  on_emergency_stack = true;
  TakeFault(*overflow, FaultNumberForException(StackOverflowCode));
  PlatformExit(FaultNumberForException(StackOverflowCode));
}

// Runs `routine` on the emergency stack; it never comes back. The stack is
// 16-byte aligned at the call; on x64 the callee has 32 bytes of home space
// above its return address.
[[noreturn]] void RunOnEmergencyStack(void (*routine)()) {
  const auto top = reinterpret_cast<std::uintptr_t>(emergency_stack + sizeof emergency_stack);
#if defined(__x86_64__)
  asm volatile(
      "movq %0, %%rsp\n\t"
      "subq $32, %%rsp\n\t"
      "callq *%1\n\t"
      "ud2"
      :
      : "r"(top & ~std::uintptr_t{15}), "r"(routine)
      : "memory");
#else
  asm volatile(
      "movl %0, %%esp\n\t"
      "calll *%1\n\t"
      "ud2"
      :
      : "r"(top & ~std::uintptr_t{15}), "r"(routine)
      : "memory");
#endif
  __builtin_unreachable();
}

// A stack overflow is taken before any frame's handler runs: by the time the
// unhandled-exception filter would be reached, the handlers in between have
// used up the little stack that is left.
LONG CALLBACK OnStackOverflow(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode != StackOverflowCode || TakenNumber(*info) == 0) {
    return ContinueSearch;
  }
  overflow = info;
  RunOnEmergencyStack(ReportOverflow);
}

// Windows loads the image wherever it likes (it is built with DYNAMIC_BASE)
// and then writes the address it chose into the loaded header, so the
// header cannot tell where the image was linked: the build does, in
// VELK_LINKED_IMAGE_BASE.
std::uintptr_t LearnLoadBias() {
  return reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)) - VELK_LINKED_IMAGE_BASE;
}

// The thread's stack from its lowest reserved page to its top, learnt from
// the allocation around a local variable (Windows 7 has no call that gives
// the bounds directly).
void LearnStackBounds() {
  MEMORY_BASIC_INFORMATION region{};
  const unsigned char here = 0;
  if (VirtualQuery(&here, &region, sizeof region) != sizeof region) {
    return;
  }
  stack_low = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
  stack_high = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
}

}  // namespace

std::uint16_t FaultNumberForException(std::uint32_t exception_code) {
  switch (exception_code) {
    case 0x80000004:  // single step
    case 0xC0000006:  // in-page error
    case 0xC000001D:  // illegal instruction
    case 0xC0000096:  // privileged instruction
      return 217;
    case 0xC0000005:  // access violation
    case 0xC000008D:  // floating-point denormal operand
      return 216;
    case 0xC000008C:  // array bounds exceeded
      return 201;
    case 0xC000008E:  // floating-point division by zero
    case 0xC0000094:  // integer division by zero
      return 200;
    case 0xC0000090:  // floating-point invalid operation
    case 0xC0000092:  // floating-point stack check
      return 207;
    case 0xC0000091:  // floating-point overflow
      return 205;
    case 0xC0000093:  // floating-point underflow
      return 206;
    case 0xC0000095:  // integer overflow
      return 215;
    case StackOverflowCode:
      return 202;
    default:
      return 0;
  }
}

std::uint32_t WriteErrorNumber(std::uint32_t system_error) {
  switch (system_error) {
    case ERROR_BROKEN_PIPE:         // 109: the first write after the reader went
    case ERROR_PIPE_NOT_CONNECTED:  // 233: a named pipe's other end went (and Wine's pipes)
      return ErrorBrokenPipe;
    case ERROR_HANDLE_DISK_FULL:  // 39
    case DiskQuotaExceeded:       // 1295
      return ErrorDiskFull;
    default:
      return system_error;
  }
}

ReadFailure ReadFailureKind(std::uint32_t system_error) {
  switch (system_error) {
    case ERROR_HANDLE_EOF:          // 38: a file ended
    case ERROR_BROKEN_PIPE:         // 109: the writer of a pipe went away
    case ERROR_PIPE_NOT_CONNECTED:  // 233: the server of a named pipe went away
      return ReadFailure::EndOfInput;
    case ERROR_MORE_DATA:  // 234: part of a longer message of a message-mode pipe
      return ReadFailure::BytesDelivered;
    default:
      return ReadFailure::Error;
  }
}

bool SameDiskFile(void* a, void* b, IdentityQuery query) {
  DiskFileIdentity first{}, second{};
  return ReadDiskFileIdentity(a, query, first) && ReadDiskFileIdentity(b, query, second) &&
         std::memcmp(first.Id, second.Id, sizeof first.Id) == 0 &&
         (first.Volume == second.Volume || first.Volume == 0 || second.Volume == 0);
}

bool ReadDiskFileIdentity(void* handle, IdentityQuery query, DiskFileIdentity& identity) {
  identity = DiskFileIdentity{};
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    return false;
  }
  if (query == IdentityQuery::Newest) {
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info)) {
      static_assert(sizeof identity.Id == sizeof info.FileId);
      identity.Volume = info.VolumeSerialNumber;
      std::memcpy(identity.Id, &info.FileId, sizeof identity.Id);
      return true;
    }
  }
  // Windows 7 (FileIdInfo came with Windows 8): the 32-bit serial number and
  // the 64-bit index, which FileIdInfo extends on the same file systems.
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    return false;
  }
  identity.Volume = info.dwVolumeSerialNumber;
  const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  std::memcpy(identity.Id, &index, sizeof index);
  return true;
}

namespace {

// The three standard handles, looked at once, before any file is opened. A
// parent may start the program without one (none at all), or with a value
// that names no open handle, which a later open could then be handed: the
// prompts and the report would go into that file, and it would be taken for
// standard input. Each of those is replaced by a handle on NUL, as a missing
// standard descriptor is by /dev/null on POSIX: its reads find the end of
// the input, and what is written to it is lost.
HANDLE standard_handles[3] = {};
bool standard_handles_known = false;

bool IsOpenHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  SetLastError(NO_ERROR);
  return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

void LearnStandardHandles() {
  const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE null_device = nullptr;
  for (int i = 0; i < 3; ++i) {
    HANDLE handle = GetStdHandle(ids[i]);
    if (!IsOpenHandle(handle)) {
      if (null_device == nullptr) {
        null_device =
            CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
      }
      if (!IsFailedOpen(null_device)) {
        handle = null_device;
      }
    }
    standard_handles[i] = handle;
  }
  standard_handles_known = true;
}

// True when the file at `path` exists and is the disk file of one of the
// held handles. It is looked at without reading or writing it, so the look
// itself is never refused by a share mode. Devices and pipes are never the
// same file as another: NUL is not held by whoever else has it open.
bool HeldElsewhere(const char* path, const SystemHandle32* held, std::size_t held_count) {
  if (held_count == 0) {
    return false;
  }
  HANDLE probe = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (IsFailedOpen(probe)) {
    return false;
  }
  bool same = false;
  for (std::size_t i = 0; !same && i < held_count; ++i) {
    same = SameDiskFile(probe, ToHandle(held[i]), IdentityQuery::Newest);
  }
  CloseHandle(probe);
  return same;
}

}  // namespace

SystemHandle32 PlatformStandardHandle(StandardStream stream) {
  if (!standard_handles_known) {
    LearnStandardHandles();
  }
  switch (stream) {
    case StandardStream::Input:
      return FromHandle(standard_handles[0]);
    case StandardStream::Output:
      return FromHandle(standard_handles[1]);
    case StandardStream::Error:
      return FromHandle(standard_handles[2]);
  }
  return NoHandle;
}

SystemHandle32 PlatformOpenFile(const char* path, AccessMode mode, const SystemHandle32* held,
                                std::size_t held_count) {
  if (HeldElsewhere(path, held, held_count)) {
    last_error = ERROR_SHARING_VIOLATION;
    return NoHandle;
  }
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;  // 12 bytes on 32-bit Windows, 24 on x64
  security.lpSecurityDescriptor = nullptr;
  security.bInheritHandle = TRUE;
  const bool read = mode == AccessMode::Read;
  HANDLE handle = CreateFileA(path, read ? GENERIC_READ : GENERIC_WRITE, 0, &security,
                              read ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (IsFailedOpen(handle)) {
    Fail();
    return NoHandle;
  }
  return FromHandle(handle);
}

bool PlatformRead(SystemHandle32 handle, void* buffer, std::int32_t size, std::int32_t* count) {
  DWORD delivered = 0;
  if (!ReadFile(ToHandle(handle), buffer, static_cast<DWORD>(size), &delivered, nullptr)) {
    const DWORD error = GetLastError();
    switch (ReadFailureKind(error)) {
      case ReadFailure::EndOfInput:
        *count = 0;
        return true;
      case ReadFailure::BytesDelivered:  // the rest of the message comes with the next read
        break;
      case ReadFailure::Error:
        *count = 0;
        last_error = error;
        return false;
    }
  }
  *count = static_cast<std::int32_t>(delivered);
  return true;
}

bool PlatformWrite(SystemHandle32 handle, const void* buffer, std::int32_t size,
                   std::int32_t* count) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::int32_t written = 0;
  while (written < size) {
    DWORD taken = 0;
    if (!WriteFile(ToHandle(handle), bytes + written, static_cast<DWORD>(size - written), &taken,
                   nullptr)) {
      *count = written + static_cast<std::int32_t>(taken);
      last_error = WriteErrorNumber(GetLastError());
      return false;
    }
    if (taken == 0) {
      break;  // taken short without an error: the caller sees the count
    }
    written += static_cast<std::int32_t>(taken);
  }
  *count = written;
  return true;
}

bool PlatformClose(SystemHandle32 handle) {
  if (!CloseHandle(ToHandle(handle))) {
    Fail();
    return false;
  }
  return true;
}

bool PlatformIsCharDevice(SystemHandle32 handle) {
  return GetFileType(ToHandle(handle)) == FILE_TYPE_CHAR;
}

std::uint32_t PlatformLastError() { return last_error; }

std::size_t PlatformExecutablePath(char* buffer, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  buffer[size - 1] = '\0';  // a cut name may come without its zero byte
  return length == 0 ? 0 : std::strlen(buffer);
}

const char* PlatformCommandLine() { return GetCommandLineA(); }

[[noreturn]] void PlatformExit(std::uint32_t status) {
  // After a stack overflow the thread is in no state for the orderly end:
  // the process is ended from outside, with the same status.
  if (on_emergency_stack) {
    TerminateProcess(GetCurrentProcess(), status);
  }
  ExitProcess(status);
}

void PlatformInstallFaultHandler(FaultHandler handler) {
  fault_handler = handler;
  load_bias = LearnLoadBias();
  LearnStackBounds();
  ULONG guarantee = OverflowStackGuarantee;
  SetThreadStackGuarantee(&guarantee);
  // A drive without a medium (a card reader, a DVD drive) fails the open
  // instead of showing the system's dialog, which would wait for a person
  // and hold up a batch run. The modes the parent set are kept.
  SetErrorMode(SetErrorMode(SEM_FAILCRITICALERRORS) | SEM_FAILCRITICALERRORS);
  SetUnhandledExceptionFilter(OnUnhandledException);
  overflow_handler = AddVectoredExceptionHandler(1, OnStackOverflow);
}

void PlatformRemoveFaultHandler() {
  SetUnhandledExceptionFilter(nullptr);
  if (overflow_handler != nullptr) {
    RemoveVectoredExceptionHandler(overflow_handler);
    overflow_handler = nullptr;
  }
  fault_handler = nullptr;
}

std::uintptr_t PlatformLoadBias() { return load_bias; }

#if defined(__x86_64__)

[[gnu::noinline]] CodePoint PlatformCallerPoint() {
  RtlCaptureContext(&walk);
  walk_at_fault = false;
  // Out of this routine into its caller, and out of that into the caller's
  // caller, just after the call.
  if (!StepOut(walk, false) || !StepOut(walk, false)) {
    return CodePoint{0, 0};
  }
  return CodePoint{static_cast<std::uintptr_t>(walk.Rip), static_cast<std::uintptr_t>(walk.Rsp)};
}

[[gnu::noinline]] std::uintptr_t PlatformCallerFrame() {
  CONTEXT context;
  RtlCaptureContext(&context);
  return StepOut(context, false) ? static_cast<std::uintptr_t>(context.Rsp) : 0;
}

FrameLink PlatformReadFrame(std::uintptr_t frame) {
  if (frame == 0 || frame != walk.Rsp || !IsStackAddress(frame, Word) ||
      !StepOut(walk, walk_at_fault)) {
    return FrameLink{};
  }
  walk_at_fault = false;
  if (walk.Rip == 0) {
    return FrameLink{};
  }
  return FrameLink{static_cast<std::uintptr_t>(walk.Rip), static_cast<std::uintptr_t>(walk.Rsp)};
}

#else  // x86

[[gnu::noinline]] CodePoint PlatformCallerPoint() {
  // The caller's frame gives where the caller returns to and the frame of
  // the routine it returns to.
  const FrameLink link = PlatformReadFrame(CallersFrame());
  return CodePoint{link.ReturnAddress, link.CallerFrame};
}

[[gnu::noinline]] std::uintptr_t PlatformCallerFrame() { return CallersFrame(); }

FrameLink PlatformReadFrame(std::uintptr_t frame) {
  if (frame == 0 || !IsStackAddress(frame, 2 * Word)) {
    return FrameLink{};
  }
  return FrameLink{StackWord(frame + Word), StackWord(frame)};
}

#endif

}  // namespace velk
