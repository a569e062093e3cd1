// Process start-up and exit, STOP, and the small services of the runtime.
#include <cstdlib>
#include <cstring>

#include "recordio.h"
#include "signals.h"
#include "statement.h"

namespace recordio {

void f_setarg(int argc, char** argv) {
  // Kept for completeness of start-up; the run reads no argument.
  Startup& s = runtime().startup;
  s.argument_count = argc;
  s.arguments = argv;
}

void f_setsig() {
  install_signal_handlers();
}

void f_init() {
  runtime().units.preconnect();
}

void f_exit() {
  Runtime& rt = runtime();
  if (rt.startup.exited) return;
  rt.startup.exited = true;
  rt.units.close_all();
  settle(0);
}

void s_copy(char* dest, const char* src, ftnlen dest_len, ftnlen src_len) {
  const ftnlen n = src_len < dest_len ? src_len : dest_len;
  std::memmove(dest, src, n);
  std::memset(dest + n, ' ', dest_len - n);
}

void s_stop(const char*, ftnlen) {
  // The run STOPs with no text: nothing is printed.
  std::exit(0);
}

bool f_at_end(ftnint unit) {
  Unit* u = runtime().units.at(unit);
  if (u == nullptr) fatal("read", Failure::runtime(RuntimeError::kUnitNumber));
  const bool at_end = u->at_end();
  return settle(at_end);
}

void f_fail(const char* context, const char* text) {
  fatal(context, Failure::message(text));
}

}  // namespace recordio
