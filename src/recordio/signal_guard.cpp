#include "signal_guard.h"

namespace recordio {

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kHandledSignals) sigaddset(&set, sig);
  return set;
}

SignalGuard::SignalGuard() {
  const sigset_t blocked = handled_signals();
  sigprocmask(SIG_BLOCK, &blocked, &saved_);
}

SignalGuard::~SignalGuard() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace recordio
