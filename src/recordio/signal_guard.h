// The signals whose handlers close every unit before the process ends, and a guard that holds
// them back while the unit table changes shape.
#pragma once

#include <array>
#include <csignal>

namespace recordio {

// The last four end the process by their own default action once the units are closed, with no
// message: a file being written is cut at what was written, never left with an older file's
// tail after the new rows.
inline constexpr std::array kHandledSignals{SIGFPE, SIGABRT, SIGINT,  SIGTERM,
                                            SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

sigset_t handled_signals();

// Holds the handled signals back while the unit table changes shape (a buffer being written
// out, a unit opening or closing), so that a handler never sees a half-made change. No system
// call: a handler that finds a guard in place notes its signal with hold_back and returns, and
// the outermost guard raises the signal again as it ends. Of several signals met under one
// guard, the first is raised again; each of them ends the process after closing every unit.
class SignalGuard {
 public:
  SignalGuard();
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;
};

// For a handler, first thing: true when a guard is in place, having noted `sig` to be raised
// again when the guard ends (the first signal noted is the one raised).
bool hold_back(int sig) noexcept;

}  // namespace recordio
