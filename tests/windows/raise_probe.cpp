// A run over the runtime that writes one console line, then meets the signal its argument names
// on its main thread, as the C runtime raises it: fpe (the floating-point exception), abrt (the
// abort signal), int, term, or abort (the C runtime's abort, which raises the abort signal).
#include <csignal>
#include <cstdlib>
#include <string_view>

#include "recordio/recordio.h"
#include "recordio/runtime.h"

void MAIN__() {
  using namespace recordio;
  static constexpr cilist kConsole{0, 6, 0, nullptr, 0};
  constexpr std::string_view kReady = "raising";
  s_wsle(&kConsole);
  do_lio(kTypeCharacter, 1, kReady.data(), kReady.size());
  e_wsle();
  const Startup& start = runtime().startup;
  const std::string_view what = start.argument_count > 1 ? start.arguments[1] : "";
  if (what == "abort") std::abort();
  std::raise(what == "fpe" ? SIGFPE : what == "abrt" ? SIGABRT : what == "int" ? SIGINT : SIGTERM);
  s_stop("", 0);
}
