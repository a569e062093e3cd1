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

// Holds the handled signals back while the unit table changes shape (a buffer being flushed, a
// unit opening or closing), so that a handler never sees a half-made change.
class SignalGuard {
 public:
  SignalGuard();
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace recordio
