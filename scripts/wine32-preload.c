// Loaded into the 32-bit Wine that scripts/setup-wine32 runs under qemu-i386
// (named in the emulated root's /etc/ld.so.preload, which only the emulated
// processes read). It makes up for two faults of qemu-i386 7.2's user-mode
// emulation that Wine runs into:
//
// - A mapping asked for with MAP_FIXED_NOREPLACE on a range that is taken
//   is put somewhere else instead of failing with EEXIST. Wine reserves its
//   address space at start-up with such requests; every one that lands
//   elsewhere is kept as reserved and makes Wine try again, some 65,000
//   times in all (about 50 s for each process). Here a mapping that missed
//   its address is given back, and the request fails as the kernel fails it.
// - The registers handed to a signal handler say trap -1. Wine tells the
//   kind of a fault by the trap number, so an access violation came out as
//   an illegal instruction and a division by zero as a floating-point fault.
//   Here every fault handler Wine installs runs behind one that first puts
//   in the trap number the kernel gives with that signal.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

// ---- Mappings ----

// The system call itself, which takes the offset in pages.
static void* MapPages(void* address, size_t length, int protection, int flags, int file,
                      off64_t offset) {
  if (offset % 4096 != 0) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  return (void*)syscall(SYS_mmap2, address, length, protection, flags, file,
                        (unsigned long)(offset / 4096));
}

void* mmap64(void* address, size_t length, int protection, int flags, int file, off64_t offset) {
  if ((flags & MAP_FIXED) != 0 || (flags & MAP_FIXED_NOREPLACE) == 0) {
    return MapPages(address, length, protection, flags, file, offset);
  }
  // Asked for as a hint, which qemu keeps to when the range is free.
  void* placed = MapPages(address, length, protection, flags & ~MAP_FIXED_NOREPLACE, file, offset);
  if (placed != MAP_FAILED && placed != address) {
    syscall(SYS_munmap, placed, length);
    errno = EEXIST;
    return MAP_FAILED;
  }
  return placed;
}

void* mmap(void* address, size_t length, int protection, int flags, int file, off_t offset) {
  return mmap64(address, length, protection, flags, file, (off64_t)(uint32_t)offset);
}

// ---- Trap numbers ----

typedef void (*FaultHandler)(int, siginfo_t*, void*);

static FaultHandler wine_handlers[NSIG];  // Wine's own handler for each fault signal

static int IsFaultSignal(int signal_number) {
  switch (signal_number) {
    case SIGSEGV:
    case SIGBUS:
    case SIGILL:
    case SIGFPE:
    case SIGTRAP:
      return 1;
    default:
      return 0;
  }
}

// The x86 exception vector the kernel reports with each signal.
static int TrapNumber(int signal_number, const siginfo_t* info) {
  switch (signal_number) {
    case SIGSEGV:  // a page fault, or a general-protection fault
      return info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR ? 14 : 13;
    case SIGBUS:  // an alignment check, or a page fault on a mapped file
      return info->si_code == BUS_ADRALN ? 17 : 14;
    case SIGILL:  // an invalid opcode
      return 6;
    case SIGFPE:  // an integer division, an overflow trap, or the floating-point unit
      return info->si_code == FPE_INTDIV ? 0 : info->si_code == FPE_INTOVF ? 4 : 16;
    case SIGTRAP:  // a single step, or a breakpoint
      return info->si_code == TRAP_TRACE ? 1 : 3;
    default:
      return -1;
  }
}

static void WithTrapNumber(int signal_number, siginfo_t* info, void* context) {
  greg_t* registers = ((ucontext_t*)context)->uc_mcontext.gregs;
  if (registers[REG_TRAPNO] == -1) {
    registers[REG_TRAPNO] = TrapNumber(signal_number, info);
  }
  wine_handlers[signal_number](signal_number, info, context);
}

int sigaction(int signal_number, const struct sigaction* action, struct sigaction* old) {
  static int (*system_sigaction)(int, const struct sigaction*, struct sigaction*);
  if (system_sigaction == NULL) {
    system_sigaction =
        (int (*)(int, const struct sigaction*, struct sigaction*))dlsym(RTLD_NEXT, "sigaction");
  }
  if (signal_number <= 0 || signal_number >= NSIG || !IsFaultSignal(signal_number)) {
    return system_sigaction(signal_number, action, old);
  }
  const FaultHandler previous = wine_handlers[signal_number];
  struct sigaction wrapped;
  if (action != NULL) {
    const int with_info = (action->sa_flags & SA_SIGINFO) != 0 && action->sa_sigaction != NULL;
    wine_handlers[signal_number] = with_info ? action->sa_sigaction : NULL;
    if (with_info) {
      wrapped = *action;
      wrapped.sa_sigaction = WithTrapNumber;
      action = &wrapped;
    }
  }
  const int result = system_sigaction(signal_number, action, old);
  // The caller sees its own handler where the wrapper stands.
  if (result == 0 && old != NULL && (old->sa_flags & SA_SIGINFO) != 0 &&
      old->sa_sigaction == WithTrapNumber) {
    old->sa_sigaction = previous;
  }
  return result;
}
