#include "signal_guard.h"

#include <atomic>

namespace recordio {
namespace {

// Written by the guards, read by the handlers: only plain loads and stores of sig_atomic_t.
volatile std::sig_atomic_t guards = 0;       // guards in place
volatile std::sig_atomic_t held_signal = 0;  // the signal a handler left to the guards, or 0

}  // namespace

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kHandledSignals) sigaddset(&set, sig);
  return set;
}

SignalGuard::SignalGuard() {
  guards = guards + 1;
  // What the guard holds happens after it is in place, as a handler sees it.
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

SignalGuard::~SignalGuard() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  guards = guards - 1;
  if (guards == 0 && held_signal != 0) {
    const int sig = held_signal;
    held_signal = 0;
    // Its handler runs now, before raise returns; unless a handler in progress holds it
    // blocked, and that handler ends the process anyway.
    raise(sig);
  }
}

bool hold_back(int sig) noexcept {
  if (guards == 0) return false;
  if (held_signal == 0) held_signal = sig;
  return true;
}

}  // namespace recordio
