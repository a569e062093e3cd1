// The process entry: the runtime's start-up, then the run.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "recordio.h"

// The ends of the program's zero-initialised static storage, set by the linker.
extern "C" char __bss_start[];
extern "C" char _end[];

namespace {

// The run's arrays and the units' blocks are static storage, and the run writes most of it. Each
// page would otherwise arrive by a fault of its own on first use, which on a virtual machine costs
// more than a run's work on that page; one call maps them all. A system that cannot (before
// Linux 5.14) leaves them to fault as before.
void populate_static_storage() {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(__bss_start) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(_end);
#ifdef MADV_POPULATE_WRITE
  (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  populate_static_storage();
  recordio::f_setarg(argc, argv);
  recordio::f_setsig();
  recordio::f_init();
  std::atexit([] { recordio::f_exit(); });
  MAIN__();
  return 0;
}
