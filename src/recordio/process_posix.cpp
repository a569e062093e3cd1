// The process services of a POSIX system.
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>

#include "process.h"

// The ends of the program's zero-initialised static storage, set by the linker.
extern "C" char __bss_start[];
extern "C" char _end[];

namespace recordio {

void prepare_process() {
  // The run's arrays and the units' blocks are static storage, and the run writes most of it.
  // Each page would otherwise arrive by a fault of its own on first use, which on a virtual
  // machine costs more than a run's work on that page; one call maps them all. A system that
  // cannot (before Linux 5.14) leaves them to fault as before.
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(__bss_start) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(_end);
  (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
}

void abort_plainly() noexcept {
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  sigaction(SIGABRT, &plain, nullptr);
  std::abort();
}

}  // namespace recordio
