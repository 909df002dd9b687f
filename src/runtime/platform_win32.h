// The parts of the Windows platform layer that can be tested apart, by
// table or on handles a test makes: how the system's exception codes become
// run-time error numbers, how its error numbers for one cause are folded
// into one, and how a file is told from another.
#pragma once

#include <cstdint>

namespace velk {

// The run-time error number for an exception code: 0 for an exception the
// program does not report (it goes to the system's default handling).
std::uint16_t FaultNumberForException(std::uint32_t exception_code);

// The error a failed write reports for the system's error: a pipe whose
// reader has gone is 232 whichever of its numbers the system gives (109 for
// the first write after, 233 for a named pipe), and a full disk or a used-up
// quota is 112 (also 39 and 1295). Any other error is its own number.
std::uint32_t WriteErrorNumber(std::uint32_t system_error);

// What a failed read means: the end of the input (a file that ended, a
// pipe whose writer or server went away), bytes delivered all the same (a
// message-mode pipe's message longer than the read), or an error.
enum class ReadFailure : std::uint8_t { EndOfInput, BytesDelivered, Error };
ReadFailure ReadFailureKind(std::uint32_t system_error);

// A disk file's volume and its number there. Newest asks as Windows 8 and
// later answer (128-bit numbers), and falls back to what Windows 7 offers
// (the volume serial number and the 64-bit file index), which Windows7
// asks for alone. A handle that is not on a disk file (a device, a pipe)
// has no identity: false.
struct DiskFileIdentity {
  std::uint64_t Volume;
  unsigned char Id[16];
};
enum class IdentityQuery : std::uint8_t { Newest, Windows7 };
bool ReadDiskFileIdentity(void* handle, IdentityQuery query, DiskFileIdentity& identity);

// True when both handles are on the same disk file. Wine says volume 0 for
// a handle it did not open itself (standard input redirected from a file);
// such a volume matches any.
bool SameDiskFile(void* a, void* b, IdentityQuery query);

}  // namespace velk
