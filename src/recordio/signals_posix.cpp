// The runtime's signal handlers on a POSIX system.
#include <time.h>
#include <unistd.h>

#include <array>
#include <csignal>

#include "process.h"
#include "runtime.h"
#include "signals.h"
#include "terminator.h"

namespace recordio {
namespace {

// The last four end the process by their own default action once the units are closed, with no
// message: a file being written is cut at what was written, never left with an older file's
// tail after the new rows.
constexpr std::array kHandledSignals{SIGFPE, SIGABRT, SIGINT,  SIGTERM,
                                     SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

// A signal that comes after a guard is in place but before the unit's write under it begins is
// held back, and is no longer there to interrupt that write: a write that waits for a reader who
// reads nothing would then wait for good. A timer signal a little later interrupts it (the
// handlers restart no system call), the guard ends, and the held signal goes through. Set up at
// start-up; the signal itself does nothing.
timer_t nudge_timer;
bool nudge_ready = false;

extern "C" void on_nudge(int) {}

void nudge_soon() noexcept {
  if (!nudge_ready) return;
  itimerspec once{};
  once.it_value.tv_nsec = 20'000'000;
  (void)timer_settime(nudge_timer, 0, &once, nullptr);
}

void set_up_nudge() {
  struct sigaction sa {};
  sa.sa_handler = on_nudge;
  sigemptyset(&sa.sa_mask);
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGRTMIN;
  nudge_ready = sigaction(SIGRTMIN, &sa, nullptr) == 0 &&
                timer_create(CLOCK_MONOTONIC, &event, &nudge_timer) == 0;
}

// Ends the process by `sig`'s default action, from its own handler.
[[noreturn]] void end_by_default_action(int sig) noexcept {
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  sigaction(sig, &plain, nullptr);
  raise(sig);  // held back until the mask below lets it through
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, sig);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  _exit(128 + sig);  // not reached: every one of these signals ends the process by default
}

// Runs inside a signal handler: the file layer's async-signal-safe operations, sigaction(2),
// sigprocmask(2), getpid(2), timer_settime(2), raise, _exit(2) and abort only. The handlers hold
// every handled signal blocked, so one never interrupts another. Nothing here waits for a stream: a
// message or output a stream does not take at once is dropped, so that a signal always ends the
// run.
extern "C" void on_signal(int sig, siginfo_t* info, void*) {
  UnitTable& units = runtime().units;
  // A unit in the middle of a change: the signal comes back when the change is whole. Not a
  // fault or an abort of the process's own, though: returning would repeat the faulting
  // instruction, or let abort end the process with no unit closed.
  const bool own = (sig == SIGFPE || sig == SIGABRT) &&
                   (info == nullptr || info->si_code > 0 || info->si_pid == getpid());
  if (!own && hold_back(units.signals(), sig)) {
    nudge_soon();
    return;
  }
  if (sig == SIGHUP || sig == SIGQUIT || sig == SIGPIPE || sig == SIGXFSZ) {
    units.close_all_quietly(false);
    end_by_default_action(sig);
  }
  write_signal_message(units.files(), sig);
  units.close_all_quietly(false);
  if (sig == SIGINT || sig == SIGTERM) _exit(1);
  abort_plainly();
}

}  // namespace

void install_signal_handlers() {
  set_up_nudge();
  struct sigaction sa {};
  sa.sa_sigaction = on_signal;
  sigemptyset(&sa.sa_mask);
  for (int sig : kHandledSignals) sigaddset(&sa.sa_mask, sig);
  sigaddset(&sa.sa_mask, SIGRTMIN);  // a nudge never cuts a handler's own writes short
  // No SA_RESTART: a system call a held-back signal interrupts returns, so that the guard that
  // held it back can end and let it through instead of waiting on in the call.
  sa.sa_flags = SA_SIGINFO;
  for (int sig : kHandledSignals) {
    // A signal ignored when the process started stays ignored: a run started in the background
    // or under nohup keeps going, and a run whose broken pipe is ignored sees the failed write.
    struct sigaction before {};
    sigaction(sig, nullptr, &before);
    const bool always = sig == SIGFPE || sig == SIGABRT || sig == SIGTERM;
    if (always || before.sa_handler != SIG_IGN) sigaction(sig, &sa, nullptr);
  }
}

}  // namespace recordio
