// Stopping the process. Every end runs through RuntimeShutdown: the normal
// end, a fatal stop of the preprocessor (StopProgram) and a run-time error
// (RaiseRuntimeError), which writes the report
//
//   Runtime error 103 at 0x0001A2B4\r\n
//     0x0001A2B4\r\n
//     0x0001A0F0\r\n        one line per frame of the back-trace
//   \r\n
//
// on ReportOutput and ends with the error number as the exit status.
// Addresses are code addresses relative to the executable's load base (low
// 32 bits), so that `addr2line -e velk 0x0001A2B4` names the place.
#pragma once

#include <cstdint>

#include "runtime/text_file.h"

namespace velk {

// Run-time error numbers that do not come from I/O.
inline constexpr std::uint16_t DivisionByZeroError = 200;
inline constexpr std::uint16_t RangeCheckError = 201;
inline constexpr std::uint16_t StackOverflowError = 202;
inline constexpr std::uint16_t HeapOverflowError = 203;
inline constexpr std::uint16_t InvalidPointerError = 204;
inline constexpr std::uint16_t FloatOverflowError = 205;
inline constexpr std::uint16_t FloatUnderflowError = 206;
inline constexpr std::uint16_t InvalidFloatOperationError = 207;
inline constexpr std::uint16_t IntegerOverflowError = 215;
inline constexpr std::uint16_t AccessViolationError = 216;
inline constexpr std::uint16_t PrivilegedInstructionError = 217;

// The stop state.
extern std::uint16_t ExitStatus;    // handed to the system when the process ends
extern std::uint16_t ErrorNumber;   // the number in the report
extern std::uint32_t ErrorAddress;  // where the error was raised (relative); 0: no report
extern std::uintptr_t ErrorFrame;   // the frame the back-trace starts at; 0: none

// Marks `frame` as the frame of the routine that calls the driver: the walk
// treats it as the end of every chain, so the driver's frame is the last.
void SetOutermostFrame(std::uintptr_t frame);

// Installs the fault handling and the handler for exhausted memory.
void InstallFaultHandling();

// Ends the process with `status` and no report.
[[noreturn]] void StopProgram(std::uint8_t status);

// Raises the run-time error for the pending I/O code, at the point just after
// this call in the caller. (Neither it nor the compiler marks it as never
// returning, so that the caller has code after the call, where the report's
// address points.)
void RaiseIoError();

// Raises the run-time error for a pending I/O code, at the point just after
// the check in the caller; does nothing when no code is pending. Always
// placed inside the caller, so that the back-trace starts with the caller.
[[gnu::always_inline]] inline void CheckIo() {
  if (IoErrorCode != 0) [[unlikely]] {
    RaiseIoError();
  }
}

// Ends the process with run-time error `number` raised at the code address
// `address` (absolute) with the back-trace starting at `frame`.
[[noreturn]] void RaiseRuntimeError(std::uint16_t number, std::uintptr_t address,
                                    std::uintptr_t frame);

// The end sequence: open output files written out, the report when an error
// was raised, the fault handling removed, the process ended with ExitStatus.
[[noreturn]] void RuntimeShutdown();

}  // namespace velk
