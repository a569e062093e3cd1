// The process entry: the runtime's start-up, then the run.
#include <cstdlib>

#include "process.h"
#include "recordio.h"

int main(int argc, char** argv) {
  recordio::prepare_process();
  recordio::f_setarg(argc, argv);
  recordio::f_setsig();
  recordio::f_init();
  std::atexit([] { recordio::f_exit(); });
  MAIN__();
  return 0;
}
