// The process entry.
#pragma once

namespace velk {

using DriverProcedure = void (*)();

// Installs the fault handling, sets up the standard channels, builds the
// argument list, clears IoErrorCode, calls `driver` once and, when it
// returns, ends the process with status 0.
[[noreturn]] void RuntimeStartup(int argc, char** argv, DriverProcedure driver);

}  // namespace velk
