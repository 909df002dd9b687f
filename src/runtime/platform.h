// The only header that knows an operating system exists. It offers the text
// channels, the start-up and the stop the handful of system services they
// rely on, with errors reported in one numbering on every platform (2 file
// not found, 3 path not found, 5 access denied, ...), so that every code the
// program shows is the same everywhere. platform_posix.cpp and
// platform_win32.cpp implement it, and the build links exactly one of them
// (or, for the fault tests, a scripted fake).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

using SystemHandle32 = std::int32_t;
inline constexpr SystemHandle32 NoHandle = -1;  // "holds no handle"

enum class StandardStream : std::uint8_t { Input, Output, Error };
enum class AccessMode : std::uint8_t { Read, Write };

// Platform error numbers the channels and tests rely on.
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorPathNotFound = 3;
inline constexpr std::uint32_t ErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorInvalidHandle = 6;
inline constexpr std::uint32_t ErrorWriteFault = 29;
inline constexpr std::uint32_t ErrorReadFault = 30;
inline constexpr std::uint32_t ErrorGeneralFailure = 31;
inline constexpr std::uint32_t ErrorSharingViolation = 32;
inline constexpr std::uint32_t ErrorDiskFull = 112;
inline constexpr std::uint32_t ErrorFilenameTooLong = 206;
inline constexpr std::uint32_t ErrorBrokenPipe = 232;

// The handle of a standard stream.
SystemHandle32 PlatformStandardHandle(StandardStream stream);

// Opens the zero-terminated path, as typed (either "/" or "\\" separates
// directories): an existing file for reading, or a file created or emptied
// for writing, in both cases without sharing it with another opener. The
// handles in `held` stand for the other openers the system's share modes
// may not know of (where it has none, all of them; standard input, which
// the program did not open): a file one of them refers to is refused with
// ErrorSharingViolation before anything is emptied. Returns NoHandle on
// failure, with the reason in PlatformLastError().
SystemHandle32 PlatformOpenFile(const char* path, AccessMode mode, const SystemHandle32* held,
                                std::size_t held_count);

// Reads up to `size` bytes; false on failure. `*count` is what was delivered
// (0 at the end of the input).
bool PlatformRead(SystemHandle32 handle, void* buffer, std::int32_t size, std::int32_t* count);

// Writes `size` bytes, all of them unless an error stops it; false on
// failure. `*count` is what the system took. Writing 0 bytes always succeeds.
bool PlatformWrite(SystemHandle32 handle, const void* buffer, std::int32_t size,
                   std::int32_t* count);

// Releases a handle; false when the system reports a failure (a write-back
// that failed at the last moment), with the reason in PlatformLastError().
bool PlatformClose(SystemHandle32 handle);

// True when the handle is a terminal or another character device.
bool PlatformIsCharDevice(SystemHandle32 handle);

// The platform error of the last call above that failed.
std::uint32_t PlatformLastError();

// Writes the running executable's full file name, zero-terminated and cut to
// `size` - 1 bytes; returns its length (0 when it cannot be had).
std::size_t PlatformExecutablePath(char* buffer, std::size_t size);

// The raw command line as one zero-terminated text, where the system keeps it
// so (the program name first); null where the system hands the arguments
// over already split.
const char* PlatformCommandLine();

// A place in the running program: a code address in some routine and that
// routine's frame, from which a back-trace can be walked.
struct CodePoint {
  std::uintptr_t Address;  // absolute code address
  std::uintptr_t Frame;    // the routine's frame reference; 0: none
};

// What a fault handler learns about a processor fault.
struct FaultInfo {
  std::uint16_t Number;  // the run-time error number for this fault
  CodePoint Where;       // the faulting instruction and the frame of its routine
};

// Called on the faulting thread, on a stack of its own. It must not use the
// heap and must not return when it takes the fault on.
using FaultHandler = void (*)(const FaultInfo& fault);

// The point just after the call of the routine that called this one, in
// that routine's caller, and the caller's frame: what a check reports as the
// place of an error it raises. The back-trace walk starts there.
CodePoint PlatformCallerPoint();

// The frame of the routine that calls this one.
std::uintptr_t PlatformCallerFrame();

// One step of a back-trace walk, which starts at the frame of a CodePoint
// just given by PlatformCallerPoint or a fault and goes outwards one frame
// per call: the return address of the routine whose frame is `frame` and the
// frame of its caller. A frame that cannot be read safely gives zeros.
struct FrameLink {
  std::uintptr_t ReturnAddress = 0;
  std::uintptr_t CallerFrame = 0;
};
FrameLink PlatformReadFrame(std::uintptr_t frame);

// Routes processor faults to `handler`. Faults without a usable frame go to
// the system's default handling instead. Also learns, outside any fault,
// what a report needs later (the load bias, the stack's bounds).
void PlatformInstallFaultHandler(FaultHandler handler);

// Gives processor faults back to the system's default handling.
void PlatformRemoveFaultHandler();

// Ends the process at once with the given status; nothing is flushed.
[[noreturn]] void PlatformExit(std::uint32_t status);

// The difference between where the executable was loaded and where it was
// linked: code address minus this gives what addr2line expects.
std::uintptr_t PlatformLoadBias();

}  // namespace velk
