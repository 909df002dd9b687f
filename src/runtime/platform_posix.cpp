// The platform layer on POSIX systems. Handles are file descriptors, and
// every failure is reported in the numbering the rest of the program uses
// (see platform.h), so that a missing file is 2 here as everywhere. Names may
// be typed with "\\" between directories, as on the program's first system;
// they are opened with "/" in its place. There are no share modes: the
// channels name the handles a new open must not share a file with, and a
// file is emptied only after that check. Back-traces follow the chain of
// frames that every routine keeps (see Back-traces below).

#include "runtime/platform_posix.h"

#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "runtime/platform.h"

namespace velk {

namespace {

std::uint32_t last_error = 0;          // what PlatformLastError reports
FaultHandler fault_handler = nullptr;  // where taken faults go
std::uintptr_t stack_low = 0;          // the main thread's stack, lowest address
std::uintptr_t stack_high = 0;         // one past its highest address
std::uintptr_t guard_low = 0;          // the region below the stack that a
std::uintptr_t guard_high = 0;         //   runaway recursion faults in
std::uintptr_t load_bias = 0;          // learnt when the fault handling is installed
bool load_bias_known = false;
alignas(16) char fault_stack[64 * 1024];  // the handler runs here, so that a
                                          //   stack overflow can be reported

void Fail(int error_number, AccessMode mode) {
  last_error = PlatformErrorFromErrno(error_number, mode);
}

// A missing file is "file not found" only when the directory it would be in
// exists; otherwise it is "path not found".
std::uint32_t MissingFileError(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr || slash == path) {
    return ErrorFileNotFound;
  }
  char directory[PATH_MAX];
  const std::size_t length = static_cast<std::size_t>(slash - path);
  if (length >= sizeof directory) {
    return ErrorPathNotFound;
  }
  std::memcpy(directory, path, length);
  directory[length] = '\0';
  struct stat info;
  if (stat(directory, &info) == 0 && S_ISDIR(info.st_mode)) {
    return ErrorFileNotFound;
  }
  return ErrorPathNotFound;
}

bool IsStackAddress(std::uintptr_t address, std::size_t size);

bool SameFile(const struct stat& a, SystemHandle32 other) {
  struct stat b;
  return fstat(other, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool HeldElsewhere(const struct stat& info, const SystemHandle32* held, std::size_t held_count) {
  for (std::size_t i = 0; i < held_count; ++i) {
    if (SameFile(info, held[i])) {
      return true;
    }
  }
  return false;
}

SystemHandle32 Refuse(SystemHandle32 handle, std::uint32_t error) {
  close(handle);
  last_error = error;
  return NoHandle;
}

}  // namespace

std::uint32_t PlatformErrorFromErrno(int error_number, AccessMode mode) {
  switch (error_number) {
    case ENOENT:
      return ErrorFileNotFound;
    case ENOTDIR:
      return ErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ErrorAccessDenied;
    case EMFILE:
    case ENFILE:
      return ErrorTooManyOpenFiles;
    case EBADF:
      return ErrorInvalidHandle;
    case ENOSPC:
    case EDQUOT:
      return ErrorDiskFull;
    case EPIPE:
      return ErrorBrokenPipe;
    case ENAMETOOLONG:
      return ErrorFilenameTooLong;
    case EIO:
      return mode == AccessMode::Read ? ErrorReadFault : ErrorWriteFault;
    default:
      return ErrorGeneralFailure;
  }
}

namespace {

// A standard descriptor that the process was started without is opened on
// /dev/null, so that no file opened later can take its number and be taken
// for a standard channel.
void ReserveStandardHandles() {
  static bool reserved = false;
  if (reserved) {
    return;
  }
  reserved = true;
  for (int handle = STDIN_FILENO; handle <= STDERR_FILENO; ++handle) {
    if (fcntl(handle, F_GETFD) < 0 && errno == EBADF) {
      const int opened = open("/dev/null", handle == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != handle) {
        close(opened);
      }
    }
  }
}

}  // namespace

SystemHandle32 PlatformStandardHandle(StandardStream stream) {
  ReserveStandardHandles();
  switch (stream) {
    case StandardStream::Input:
      return STDIN_FILENO;
    case StandardStream::Output:
      return STDOUT_FILENO;
    case StandardStream::Error:
      return STDERR_FILENO;
  }
  return NoHandle;
}

SystemHandle32 PlatformOpenFile(const char* typed_path, AccessMode mode, const SystemHandle32* held,
                                std::size_t held_count) {
  char path[PATH_MAX];
  const std::size_t length = std::strlen(typed_path);
  if (length >= sizeof path) {
    last_error = ErrorFilenameTooLong;
    return NoHandle;
  }
  for (std::size_t i = 0; i <= length; ++i) {
    path[i] = typed_path[i] == '\\' ? '/' : typed_path[i];
  }
  // Writing opens without emptying: the file is emptied only once it is
  // known not to be one that another channel holds.
  const int flags = mode == AccessMode::Read ? O_RDONLY : O_WRONLY | O_CREAT;
  int handle;
  do {
    handle = open(path, flags | O_CLOEXEC, 0666);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0) {
    const int error_number = errno;
    last_error = error_number == ENOENT ? MissingFileError(path)
                                        : PlatformErrorFromErrno(error_number, mode);
    return NoHandle;
  }
  struct stat info;
  if (fstat(handle, &info) != 0) {
    const int error_number = errno;
    close(handle);
    Fail(error_number, mode);
    return NoHandle;
  }
  if (S_ISDIR(info.st_mode)) {
    return Refuse(handle, ErrorAccessDenied);
  }
  if (HeldElsewhere(info, held, held_count)) {
    return Refuse(handle, ErrorSharingViolation);
  }
  // An empty file is left as it is: emptying it again would only make some
  // file systems write it back at once when it is closed.
  if (mode == AccessMode::Write && S_ISREG(info.st_mode) && info.st_size != 0 &&
      ftruncate(handle, 0) != 0) {
    const int error_number = errno;
    close(handle);
    Fail(error_number, mode);
    return NoHandle;
  }
  return handle;
}

bool PlatformRead(SystemHandle32 handle, void* buffer, std::int32_t size, std::int32_t* count) {
  ssize_t n;
  do {
    n = read(handle, buffer, static_cast<std::size_t>(size));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    *count = 0;
    Fail(errno, AccessMode::Read);
    return false;
  }
  *count = static_cast<std::int32_t>(n);
  return true;
}

bool PlatformWrite(SystemHandle32 handle, const void* buffer, std::int32_t size,
                   std::int32_t* count) {
  const char* bytes = static_cast<const char*>(buffer);
  std::int32_t written = 0;
  // Short counts are taken up again until every byte is written or the
  // system refuses; a write of nothing makes no system call at all.
  while (written < size) {
    const ssize_t n = write(handle, bytes + written, static_cast<std::size_t>(size - written));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      *count = written;
      Fail(errno, AccessMode::Write);
      return false;
    }
    if (n == 0) {
      break;  // taken short without an error: the caller sees the count
    }
    written += static_cast<std::int32_t>(n);
  }
  *count = written;
  return true;
}

bool PlatformClose(SystemHandle32 handle) {
  // An interrupted close has released the descriptor all the same (Linux);
  // calling it again could close a descriptor opened meanwhile.
  if (close(handle) != 0 && errno != EINTR) {
    Fail(errno, AccessMode::Write);
    return false;
  }
  return true;
}

bool PlatformIsCharDevice(SystemHandle32 handle) {
  struct stat info;
  return fstat(handle, &info) == 0 && S_ISCHR(info.st_mode);
}

std::uint32_t PlatformLastError() { return last_error; }

std::size_t PlatformExecutablePath(char* buffer, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  const std::size_t length = n > 0 ? static_cast<std::size_t>(n) : 0;
  buffer[length] = '\0';
  return length;
}

const char* PlatformCommandLine() { return nullptr; }  // arguments arrive split

[[noreturn]] void PlatformExit(std::uint32_t status) { _exit(static_cast<int>(status & 0xFFu)); }

// ---- Processor faults -------------------------------------------------------

std::uint16_t FaultNumber(int signal_number, int signal_code, bool in_stack_guard) {
  switch (signal_number) {
    case SIGSEGV:
      return in_stack_guard ? 202 : 216;
    case SIGBUS:
    case SIGILL:
    case SIGTRAP:
      return 217;
    case SIGFPE:
      switch (signal_code) {
        case FPE_INTDIV:
        case FPE_FLTDIV:
          return 200;
        case FPE_INTOVF:
          return 215;
        case FPE_FLTOVF:
          return 205;
        case FPE_FLTUND:
          return 206;
        case FPE_FLTSUB:
          return 201;
        default:
          return 207;
      }
    default:
      return 0;
  }
}

namespace {

constexpr int FaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGTRAP, SIGFPE};

// The main thread's stack, from the top of its mapping, where the kernel
// puts the executable's file name last, down to the limit on its size;
// false when what the system reports does not fit that picture. (The
// library's own query reads /proc/self/maps for the top, at a cost at every
// start.)
bool StackBoundsFromLimit() {
  struct rlimit limit;
  const auto* file_name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  const std::uintptr_t page = getauxval(AT_PAGESZ);
  if (file_name == nullptr || page == 0 || (page & (page - 1)) != 0 ||
      getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return false;
  }
  const auto name = reinterpret_cast<std::uintptr_t>(file_name);
  const std::uintptr_t top =
      (name + std::strlen(file_name) + 1 + sizeof(void*) + page - 1) & ~(page - 1);
  const std::uintptr_t size = limit.rlim_cur & ~(page - 1);
  // This routine's own frame lies on that stack, or the picture is wrong.
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (size >= top || here >= top || here < top - size) {
    return false;
  }
  stack_low = top - size;
  stack_high = top;
  return true;
}

// Finds the main thread's stack and the guard region below it, where a
// runaway recursion faults.
void LearnStackBounds() {
  if (!StackBoundsFromLimit()) {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) {
      return;
    }
    void* address = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attributes, &address, &size) == 0) {
      stack_low = reinterpret_cast<std::uintptr_t>(address);
      stack_high = stack_low + size;
    }
    pthread_attr_destroy(&attributes);
  }
  const std::uintptr_t guard = 1024 * 1024;
  guard_high = stack_low;
  guard_low = stack_low > guard ? stack_low - guard : 0;
}

void ResetToDefault(int signal_number) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

// Where the processor faulted and the frame reference of the routine it was
// in (see Back-traces below), from the registers the signal saved. An
// s390x division fault leaves the instruction address past the divide; the
// system names the divide itself in si_addr. A stack overflow faults with
// the new stack pointer below the stack, where its frame pointer (r11, kept
// by -fno-omit-frame-pointer) still holds the frame of the calling routine.
// On a processor not named here a fault has no usable frame.
CodePoint FaultPoint([[maybe_unused]] int signal_number, [[maybe_unused]] const siginfo_t& info,
                     [[maybe_unused]] const mcontext_t& machine) {
#if defined(__x86_64__)
  return CodePoint{static_cast<std::uintptr_t>(machine.gregs[REG_RIP]),
                   static_cast<std::uintptr_t>(machine.gregs[REG_RBP])};
#elif defined(__i386__)
  return CodePoint{static_cast<std::uintptr_t>(machine.gregs[REG_EIP]),
                   static_cast<std::uintptr_t>(machine.gregs[REG_EBP])};
#elif defined(__aarch64__)
  return CodePoint{static_cast<std::uintptr_t>(machine.pc),
                   static_cast<std::uintptr_t>(machine.regs[29])};
#elif defined(__s390x__)
  const bool data_fault = signal_number == SIGSEGV || signal_number == SIGBUS;
  const std::uintptr_t address = data_fault ? static_cast<std::uintptr_t>(machine.psw.addr)
                                            : reinterpret_cast<std::uintptr_t>(info.si_addr);
  const auto stack_pointer = static_cast<std::uintptr_t>(machine.gregs[15]);
  const auto frame_pointer = static_cast<std::uintptr_t>(machine.gregs[11]);
  return CodePoint{address, IsStackAddress(stack_pointer, 1) ? stack_pointer : frame_pointer};
#else
  return CodePoint{0, 0};
#endif
}

void OnFault(int signal_number, siginfo_t* info, void* context) {
  const mcontext_t& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
  const auto fault_address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const bool in_guard = fault_address >= guard_low && fault_address < guard_high;
  const CodePoint where = FaultPoint(signal_number, *info, machine);
  // Only a fault raised by an instruction is reported; the same signal sent
  // by another process is not a fault of this program.
  const bool from_instruction = info->si_code > 0;
  const std::uint16_t number =
      from_instruction ? FaultNumber(signal_number, info->si_code, in_guard) : 0;
  // A fault the program does not report, or one without a frame to walk,
  // goes to the system: with the default action restored, returning makes
  // the instruction fault again and the system ends the process.
  if (number == 0 || fault_handler == nullptr || !IsStackAddress(where.Frame, 16)) {
    ResetToDefault(signal_number);
    if (!from_instruction) {
      raise(signal_number);
    }
    return;
  }
  fault_handler(FaultInfo{number, where});
}

}  // namespace

void PlatformInstallFaultHandler(FaultHandler handler) {
  fault_handler = handler;
  PlatformLoadBias();  // learnt now: a fault handler cannot safely ask
  LearnStackBounds();
  stack_t alternate;
  std::memset(&alternate, 0, sizeof alternate);
  alternate.ss_sp = fault_stack;
  alternate.ss_size = sizeof fault_stack;
  sigaltstack(&alternate, nullptr);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal_number : FaultSignals) {
    sigaction(signal_number, &action, nullptr);
  }
  // A closed pipe is an error to report (232), not a silent death.
  signal(SIGPIPE, SIG_IGN);
}

void PlatformRemoveFaultHandler() {
  for (int signal_number : FaultSignals) {
    ResetToDefault(signal_number);
  }
  fault_handler = nullptr;
}

std::uintptr_t PlatformLoadBias() {
  // Learnt once, outside any fault handler: dl_iterate_phdr takes a lock.
  if (!load_bias_known) {
    load_bias_known = true;
    // The first object reported is the executable itself.
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
          *static_cast<std::uintptr_t*>(data) = info->dlpi_addr;
          return 1;
        },
        &load_bias);
  }
  return load_bias;
}

// ---- Back-traces --------------------------------------------------------------
//
// A frame reference is whatever links a routine's frame to its caller's on
// the processor the program is built for, and each kind of link has its own
// walk, chosen here:
//
// - Frame records (x86-64, i386, arm64; -fno-omit-frame-pointer): a routine's
//   frame reference points to two words, the caller's frame reference and
//   the routine's return address.
// - The back chain (s390x; -mbackchain): a frame reference is the routine's
//   stack pointer, where the first word is the caller's stack pointer. The
//   return address is in register 14, which the routine saves, if it calls
//   anything, in the register save area at the bottom of its caller's frame
//   (register n at 8 * n). A routine in the chain has called another, so it
//   has saved it. Here __builtin_frame_address(0) gives the stack pointer of
//   the calling routine.
// - Anything else: no frame is read, and a report has no back-trace lines.
//
// Every word is read only where the stack really is, so that a corrupt
// chain ends the walk instead of faulting while the report is written.

namespace {

enum class FrameKind : std::uint8_t { Records, BackChain, Unknown };

#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
constexpr FrameKind Frames = FrameKind::Records;
#elif defined(__s390x__)
constexpr FrameKind Frames = FrameKind::BackChain;
#else
constexpr FrameKind Frames = FrameKind::Unknown;
#endif

constexpr std::uintptr_t Word = sizeof(std::uintptr_t);
constexpr std::uintptr_t BackChainReturnSlot = 14 * Word;  // saved register 14

// True when [address, address + size) lies inside the main thread's stack,
// so a frame there can be read without faulting.
bool IsStackAddress(std::uintptr_t address, std::size_t size) {
  if (stack_high == 0) {
    LearnStackBounds();
  }
  return address >= stack_low && address < stack_high && size <= stack_high - address &&
         address % alignof(std::uintptr_t) == 0;
}

std::uintptr_t StackWord(std::uintptr_t address) {
  return *reinterpret_cast<const std::uintptr_t*>(address);
}

FrameLink ReadFrameRecord(std::uintptr_t frame) {
  if (!IsStackAddress(frame, 2 * Word)) {
    return FrameLink{};
  }
  return FrameLink{StackWord(frame + Word), StackWord(frame)};
}

FrameLink ReadBackChain(std::uintptr_t frame) {
  if (!IsStackAddress(frame, Word)) {
    return FrameLink{};
  }
  const std::uintptr_t caller = StackWord(frame);
  if (!IsStackAddress(caller + BackChainReturnSlot, Word)) {
    return FrameLink{};
  }
  return FrameLink{StackWord(caller + BackChainReturnSlot), caller};
}

// The frame reference of the routine that called the routine this is
// written in (both keep their frames: they are never inlined).
[[gnu::always_inline]] inline std::uintptr_t CallersFrame() {
  const auto address = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  switch (Frames) {
    case FrameKind::Records:
      return StackWord(address);  // this routine's own record, which it has just made
    case FrameKind::BackChain:
      return address;
    case FrameKind::Unknown:
      break;
  }
  return 0;
}

}  // namespace

[[gnu::noinline]] CodePoint PlatformCallerPoint() {
  // The caller's frame gives where the caller returns to and the frame of
  // the routine it returns to.
  const FrameLink link = PlatformReadFrame(CallersFrame());
  return CodePoint{link.ReturnAddress, link.CallerFrame};
}

[[gnu::noinline]] std::uintptr_t PlatformCallerFrame() { return CallersFrame(); }

FrameLink PlatformReadFrame(std::uintptr_t frame) {
  if (frame == 0) {
    return FrameLink{};
  }
  switch (Frames) {
    case FrameKind::Records:
      return ReadFrameRecord(frame);
    case FrameKind::BackChain:
      return ReadBackChain(frame);
    case FrameKind::Unknown:
      break;
  }
  return FrameLink{};
}

}  // namespace velk
