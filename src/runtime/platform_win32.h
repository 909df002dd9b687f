// The pure part of the Windows platform layer, apart so that it can be tested
// by table: how the system's exception codes become run-time error numbers.
#pragma once

#include <cstdint>

namespace velk {

// The run-time error number for an exception code: 0 for an exception the
// program does not report (it goes to the system's default handling).
std::uint16_t FaultNumberForException(std::uint32_t exception_code);

}  // namespace velk
