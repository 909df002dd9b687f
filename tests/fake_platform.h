// A platform layer for tests that goes wrong on demand. Every call passes
// through to the system's own layer (platform_posix.cpp, built a second time
// with its file entry points named System...), so files, names, prompts and
// reports behave as in velk itself, except for what a test scripts: the Nth
// open, read, write or close of a named file fails with a chosen platform
// error, or a write takes only some of its bytes; reads of named files
// deliver at most a chosen number of bytes each. Calls on the standard
// handles are never scripted and never counted.
//
// Interrupted calls are not modelled: the system's layer retries them
// inside its own calls, and the tests of that run velk under strace.
#pragma once

#include <cstdint>
#include <vector>

namespace velk::fake {

enum class Call : std::uint8_t { Open, Read, Write, Close };

struct Fault {
  Call Target = Call::Read;
  std::int32_t Nth = 1;     // the first call of its kind is 1
  std::uint32_t Error = 0;  // the platform error the call fails with; 0: it succeeds
  std::int32_t Taken = -1;  // bytes a write really writes and reports; -1: all, or none if it fails
};

// Forgets every fault and read size, and sets the counts to 0.
void Reset();

// Scripts one more fault.
void Inject(const Fault& fault);

// Reads of named files deliver at most these sizes in turn, starting over
// after the last one; with none, as much as is asked for.
void DeliverReadsIn(const std::vector<std::int32_t>& sizes);

// The calls of a kind made on named files so far.
std::int32_t CallCount(Call call);

}  // namespace velk::fake
