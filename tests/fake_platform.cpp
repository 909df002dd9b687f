#include "fake_platform.h"

#include <algorithm>
#include <cstddef>

#include "runtime/platform.h"

namespace velk {

// The system's own layer, under the names its second build gives it.
SystemHandle32 SystemOpenFile(const char* path, AccessMode mode, const SystemHandle32* held,
                              std::size_t held_count);
bool SystemRead(SystemHandle32 handle, void* buffer, std::int32_t size, std::int32_t* count);
bool SystemWrite(SystemHandle32 handle, const void* buffer, std::int32_t size, std::int32_t* count);
bool SystemClose(SystemHandle32 handle);
std::uint32_t SystemLastError();

namespace {

std::vector<fake::Fault> faults;       // what is scripted
std::vector<std::int32_t> read_sizes;  // the most each read delivers, in turn
std::size_t next_read_size = 0;        // the entry the next read uses
std::int32_t call_counts[4] = {};      // calls on named files, by kind
std::uint32_t last_error = 0;          // what PlatformLastError reports

bool IsStandard(SystemHandle32 handle) {
  return handle == PlatformStandardHandle(StandardStream::Input) ||
         handle == PlatformStandardHandle(StandardStream::Output) ||
         handle == PlatformStandardHandle(StandardStream::Error);
}

// Counts a call on a named file; gives the fault scripted for it, or null.
const fake::Fault* Counted(fake::Call call) {
  const std::int32_t nth = ++call_counts[static_cast<std::size_t>(call)];
  for (const fake::Fault& fault : faults) {
    if (fault.Target == call && fault.Nth == nth) {
      return &fault;
    }
  }
  return nullptr;
}

bool Failed(std::uint32_t error) {
  last_error = error;
  return false;
}

// The result of a call the system made; a failure keeps its reason.
bool Passed(bool succeeded) {
  if (!succeeded) {
    last_error = SystemLastError();
  }
  return succeeded;
}

}  // namespace

namespace fake {

void Reset() {
  faults.clear();
  read_sizes.clear();
  next_read_size = 0;
  std::fill(std::begin(call_counts), std::end(call_counts), 0);
}

void Inject(const Fault& fault) { faults.push_back(fault); }

void DeliverReadsIn(const std::vector<std::int32_t>& sizes) {
  read_sizes = sizes;
  next_read_size = 0;
}

std::int32_t CallCount(Call call) { return call_counts[static_cast<std::size_t>(call)]; }

}  // namespace fake

SystemHandle32 PlatformOpenFile(const char* path, AccessMode mode, const SystemHandle32* held,
                                std::size_t held_count) {
  const fake::Fault* fault = Counted(fake::Call::Open);
  if (fault != nullptr && fault->Error != 0) {
    Failed(fault->Error);
    return NoHandle;
  }
  const SystemHandle32 handle = SystemOpenFile(path, mode, held, held_count);
  Passed(handle != NoHandle);
  return handle;
}

bool PlatformRead(SystemHandle32 handle, void* buffer, std::int32_t size, std::int32_t* count) {
  if (IsStandard(handle)) {
    return Passed(SystemRead(handle, buffer, size, count));
  }
  const fake::Fault* fault = Counted(fake::Call::Read);
  if (fault != nullptr && fault->Error != 0) {
    *count = 0;
    return Failed(fault->Error);
  }
  if (!read_sizes.empty()) {
    size = std::min(size, read_sizes[next_read_size++ % read_sizes.size()]);
  }
  return Passed(SystemRead(handle, buffer, size, count));
}

bool PlatformWrite(SystemHandle32 handle, const void* buffer, std::int32_t size,
                   std::int32_t* count) {
  const fake::Fault* fault = IsStandard(handle) ? nullptr : Counted(fake::Call::Write);
  if (fault == nullptr) {
    return Passed(SystemWrite(handle, buffer, size, count));
  }
  const std::int32_t all = fault->Error != 0 ? 0 : size;
  const std::int32_t taken = fault->Taken >= 0 ? std::min(fault->Taken, size) : all;
  if (!SystemWrite(handle, buffer, taken, count)) {
    return Passed(false);
  }
  return fault->Error != 0 ? Failed(fault->Error) : true;
}

bool PlatformClose(SystemHandle32 handle) {
  // A close that fails has released the handle all the same.
  const bool closed = SystemClose(handle);
  const fake::Fault* fault = IsStandard(handle) ? nullptr : Counted(fake::Call::Close);
  if (fault != nullptr && fault->Error != 0) {
    return Failed(fault->Error);
  }
  return Passed(closed);
}

std::uint32_t PlatformLastError() { return last_error; }

}  // namespace velk
