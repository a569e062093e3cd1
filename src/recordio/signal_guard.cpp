#include "signal_guard.h"

#include <atomic>

namespace recordio {

SignalGuard::SignalGuard(SignalState& state) : state_(state) {
  state_.guards = state_.guards + 1;
  // What the guard holds happens after it is in place, as a handler sees it.
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

SignalGuard::~SignalGuard() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  state_.guards = state_.guards - 1;
  if (state_.guards == 0 && state_.held != 0) {
    const int sig = state_.held;
    state_.held = 0;
    // Its handler runs now, before raise returns; unless a handler in progress holds it
    // blocked, and that handler ends the process anyway.
    std::raise(sig);
  }
}

bool hold_back(SignalState& state, int sig) noexcept {
  if (state.guards == 0) return false;
  if (state.held == 0) state.held = sig;
  return true;
}

}  // namespace recordio
