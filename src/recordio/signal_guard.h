// A guard that holds the handled signals back while the unit table changes shape (a buffer being
// written out, a unit opening or closing), so that a handler never sees a half-made change.
#pragma once

#include <atomic>
#include <csignal>

namespace recordio {

// Written by the guards, read by the handlers: only plain loads and stores of sig_atomic_t, and
// a flag a handler on another thread (where the platform has one) sets as it ends the run.
struct SignalState {
  volatile std::sig_atomic_t guards = 0;  // guards in place
  volatile std::sig_atomic_t held = 0;    // the signal a handler left to the guards, or 0
  std::atomic<bool> ending{false};        // a handler is ending the run
};

// No system call: a handler that finds a guard in place notes its signal with hold_back and
// returns, and the outermost guard raises the signal again as it ends. Of several signals met
// under one guard, the first is raised again; each of them ends the process after closing every
// unit. A system call the held signal interrupted returns early (the handlers do not restart
// them), so that a write that waits for a reader can never keep a signal held back.
class SignalGuard {
 public:
  explicit SignalGuard(SignalState& state);
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  SignalState& state_;
};

// For a handler, first thing: true when a guard is in place, having noted `sig` to be raised
// again when the guard ends (the first signal noted is the one raised).
bool hold_back(SignalState& state, int sig) noexcept;

}  // namespace recordio
