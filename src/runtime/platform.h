// The only header that knows an operating system exists. It offers the text
// channels, the start-up and the stop the handful of system services they
// rely on, with errors reported in one numbering on every platform (2 file
// not found, 3 path not found, 5 access denied, ...), so that every code the
// program shows is the same everywhere. platform_posix.cpp implements it; a
// platform_win32.cpp can sit beside it.
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

// Opens the zero-terminated path: an existing file for reading, or a file
// created or emptied for writing. The file must not be one that a handle in
// `held` refers to (same device and file), or the open fails with
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

// Releases a handle; the result is not looked at.
void PlatformClose(SystemHandle32 handle);

// True when the handle is a terminal or another character device.
bool PlatformIsCharDevice(SystemHandle32 handle);

// The platform error of the last call above that failed.
std::uint32_t PlatformLastError();

// Writes the running executable's full file name, zero-terminated and cut to
// `size` - 1 bytes; returns its length (0 when it cannot be had).
std::size_t PlatformExecutablePath(char* buffer, std::size_t size);

// What a fault handler learns about a processor fault.
struct FaultInfo {
  std::uint16_t Number;    // the run-time error number for this fault
  std::uintptr_t Address;  // the faulting instruction
  std::uintptr_t Frame;    // the frame of the routine that faulted
};

// Called on the faulting thread, on a stack of its own. It must be
// async-signal-safe and must not return when it takes the fault on.
using FaultHandler = void (*)(const FaultInfo& fault);

// Routes processor faults to `handler`. Faults without a usable frame go to
// the system's default handling instead.
void PlatformInstallFaultHandler(FaultHandler handler);

// Gives processor faults back to the system's default handling.
void PlatformRemoveFaultHandler();

// Ends the process at once with the given status; nothing is flushed.
[[noreturn]] void PlatformExit(std::uint32_t status);

// The difference between where the executable was loaded and where it was
// linked: code address minus this gives what addr2line expects.
std::uintptr_t PlatformLoadBias();

// True when [address, address + size) lies inside the main thread's stack,
// so a frame there can be read without faulting.
bool PlatformIsStackAddress(std::uintptr_t address, std::size_t size);

}  // namespace velk
