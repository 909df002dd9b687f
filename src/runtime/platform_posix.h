// The pure parts of the POSIX platform layer, apart so that they can be
// tested by table: how system errors and processor faults are numbered.
#pragma once

#include <cstdint>

#include "runtime/platform.h"

namespace velk {

// The platform error for an errno value. `mode` tells a failed read from a
// failed write (an I/O error is a read fault or a write fault).
std::uint32_t PlatformErrorFromErrno(int error_number, AccessMode mode);

// The run-time error number for a signal and its si_code: 0 for a signal the
// program does not report. `in_stack_guard` says a SIGSEGV hit the guard
// region below the stack (a stack overflow).
std::uint16_t FaultNumber(int signal_number, int signal_code, bool in_stack_guard);

}  // namespace velk
