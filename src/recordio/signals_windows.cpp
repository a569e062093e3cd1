// The runtime's signal handlers on Windows.
//
// Two ways in. The C runtime's signals, which run on the thread that raised them: the
// floating-point exception (a fault), abort (the C runtime's abort), and an interrupt or
// termination request that a signal guard let through as it ended. And the console's control
// handler, which the system runs on a thread of its own for Ctrl-C and Ctrl-Break (the interrupt)
// and for the console's closing, the user's logging off and the system's shutting down (a
// termination request).
//
// The control handler first suspends the main thread, wherever it is, so that from then on it
// sees the units exactly as a POSIX signal handler sees them from the interrupted thread. With
// no signal guard in place, it writes the message, closes every unit and ends the process there
// and then, the main thread never running again. With a guard in place (a unit changing shape),
// it leaves the signal with the guard and lets the main thread go on: the outermost guard raises
// the signal on the main thread as it ends, and the C runtime's handler ends the run from there.
// A main thread that waits under the guard in a write nobody reads has that write cancelled until
// it comes out.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "process.h"
#include "runtime.h"
#include "signals.h"
#include "terminator.h"

namespace recordio {
namespace {

// The C runtime's signals handled: the floating-point exception, abort, interrupt and
// termination request. (Windows has no hang-up, quit, broken pipe or file-size signal.)
constexpr int kHandledSignals[] = {SIGFPE, SIGABRT, SIGINT, SIGTERM};

// The thread that runs the statements, for the control handler to suspend: set once, at start-up.
HANDLE main_thread = nullptr;

// The end of a run by a signal: its message, every unit closed, then status 1 after an
// interrupt or a termination request, else the abnormal ending of the fatal path. Nothing here
// waits for a stream: a message or output a stream does not take at once is dropped.
[[noreturn]] void end_run(int sig) noexcept {
  UnitTable& units = runtime().units;
  write_signal_message(units.files(), sig);
  units.close_all_quietly(false);
  if (sig == SIGINT || sig == SIGTERM) {
    // At once, from whichever thread: no exit handler runs again, and no other thread is waited
    // for.
    TerminateProcess(GetCurrentProcess(), 1);
    _exit(1);
  }
  abort_plainly();
}

// The C runtime's handler, on the thread that raised the signal.
extern "C" void on_signal(int sig) {
  // The C runtime put the default back before calling: an interrupt or termination request that
  // a guard holds back now must find this handler again when the guard raises it.
  if ((sig == SIGINT || sig == SIGTERM) && hold_back(runtime().units.signals(), sig)) {
    std::signal(sig, on_signal);
    return;
  }
  if (runtime().units.signals().ending.exchange(true)) {
    // The control handler is ending the run and lets this thread finish nothing.
    for (;;) Sleep(INFINITE);
  }
  end_run(sig);
}

// The console's control handler, on a thread of its own.
BOOL WINAPI on_console_event(DWORD event) {
  int sig;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      sig = SIGINT;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      sig = SIGTERM;
      break;
    default:
      return FALSE;
  }
  // Suspended, and known to be: the context of a thread can be read only once it has stopped.
  if (SuspendThread(main_thread) == static_cast<DWORD>(-1)) return FALSE;
  CONTEXT context{};
  context.ContextFlags = CONTEXT_CONTROL;
  (void)GetThreadContext(main_thread, &context);
  std::atomic<bool>& ending = runtime().units.signals().ending;
  if (ending.load()) {
    // The main thread is ending the run already.
    ResumeThread(main_thread);
    for (;;) Sleep(INFINITE);
  }
  if (hold_back(runtime().units.signals(), sig)) {
    ResumeThread(main_thread);
    // A write that waits for a reader returns early once cancelled, and the guard ends. Until
    // the main thread starts ending the run, a write cancelled before it began is cancelled again.
    while (!ending.load()) {
      (void)CancelSynchronousIo(main_thread);
      Sleep(10);
    }
    for (;;) Sleep(INFINITE);
  }
  // Another event's handler may have come this far at the same time: one of them ends the run.
  if (ending.exchange(true)) {
    ResumeThread(main_thread);
    for (;;) Sleep(INFINITE);
  }
  end_run(sig);
}

}  // namespace

void install_signal_handlers() {
  // CancelSynchronousIo asks for the right to terminate the thread.
  (void)DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                        THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_TERMINATE, FALSE, 0);
  for (const int sig : kHandledSignals) std::signal(sig, on_signal);
  // After the C runtime's own control handler, which its interrupt signal put in place: the
  // handler added last is asked first. A Ctrl-C that was ignored when the process started stays
  // ignored: the system then calls no handler for it.
  (void)SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace recordio
