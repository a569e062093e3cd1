#include "terminator.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "signal_guard.h"
#include "system_calls.h"
#include "unit_table.h"

namespace recordio {
namespace {

struct ErrorText {
  RuntimeError error;
  const char* text;
};

constexpr std::array kErrorTexts{
    ErrorText{RuntimeError::kFormat, "error in format"},
    ErrorText{RuntimeError::kUnitNumber, "illegal unit number"},
    ErrorText{RuntimeError::kNullName, "null file name"},
    ErrorText{RuntimeError::kTruncate, "truncation failed in endfile"},
    ErrorText{RuntimeError::kUnexpected, "read unexpected character"},
    ErrorText{RuntimeError::kCantWrite, "can't write file"},
};

void write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = system_calls().write(fd, bytes.data(), bytes.size());
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Abort without passing through the runtime's own abort handler.
[[noreturn]] void abort_plainly() noexcept {
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  sigaction(SIGABRT, &plain, nullptr);
  std::abort();
}

// The text of a diagnostic, built in place: the fatal path may be taken because memory ran out.
class Text {
 public:
  Text& operator<<(std::string_view bytes) {
    const std::size_t n = std::min(bytes.size(), sizeof bytes_ - size_);
    std::memcpy(bytes_ + size_, bytes.data(), n);
    size_ += n;
    return *this;
  }
  Text& operator<<(int value) {
    char digits[16];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
  }
  std::string_view view() const { return {bytes_, size_}; }

 private:
  char bytes_[2 * kNameCapacity];
  std::size_t size_ = 0;
};

void write_diagnostic(const Diagnostic& d) {
  Text out;
  out << d.context << ": ";
  switch (d.failure.kind) {
    case Failure::Kind::kSystem:
      out << std::strerror(d.failure.code);
      break;
    case Failure::Kind::kEndOfFile:
      out << "end of file";
      break;
    case Failure::Kind::kRuntime:
      out << error_text(static_cast<RuntimeError>(d.failure.code));
      break;
    case Failure::Kind::kText:
      out << d.failure.text;
      break;
  }
  out << "\napparent state: unit " << d.unit << " ";
  if (d.unit_name.empty()) {
    out << "(unnamed)";
  } else {
    out << "named " << d.unit_name;
  }
  out << "\n";
  if (d.format != nullptr) out << "last format: " << d.format << "\n";
  out << "lately " << (d.writing ? "writing" : "reading") << " sequential formatted external IO\n";
  write_all(STDERR_FILENO, out.view());
}

[[noreturn]] void abort_plainly_handler() {
  abort_plainly();
}

CrashHandler crash_handler = abort_plainly_handler;

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

// Runs inside a signal handler: write(2), poll(2), lseek(2), ftruncate(2), close(2),
// sigaction(2), sigprocmask(2), getpid(2), raise, _exit(2) and abort only, all of them
// async-signal-safe. The handlers hold every handled signal blocked, so one never interrupts
// another.
extern "C" void on_signal(int sig, siginfo_t* info, void*) {
  // A unit in the middle of a change: the signal comes back when the change is whole. Not a
  // fault or an abort of the process's own, though: returning would repeat the faulting
  // instruction, or let abort end the process with no unit closed.
  const bool own = (sig == SIGFPE || sig == SIGABRT) &&
                   (info == nullptr || info->si_code > 0 || info->si_pid == getpid());
  if (!own && hold_back(sig)) return;
  if (sig == SIGHUP || sig == SIGQUIT || sig == SIGPIPE || sig == SIGXFSZ) {
    units().close_all_quietly(false);
    end_by_default_action(sig);
  }
  std::string_view message;
  switch (sig) {
    case SIGFPE:
      message = "Floating Exception\n";
      break;
    case SIGABRT:
      message = "IOT Trap\n";
      break;
    case SIGINT:
      message = "Interrupt\n";
      break;
    default:
      message = "Killed\n";
      break;
  }
  write_all(STDERR_FILENO, message);
  units().close_all_quietly(false);
  if (sig == SIGINT || sig == SIGTERM) _exit(1);
  abort_plainly();
}

}  // namespace

const char* error_text(RuntimeError e) {
  for (const ErrorText& t : kErrorTexts) {
    if (t.error == e) return t.text;
  }
  return "unknown error";
}

void crash(const Diagnostic& diagnostic) {
  // The signals stay deliverable: a unit changes shape only with them held back, so a handler
  // that interrupts the closing here finds consistent units and finishes the job itself.
  write_diagnostic(diagnostic);
  units().close_all_quietly(true);
  crash_handler();
  abort_plainly();  // a handler that returned
}

void set_crash_handler(CrashHandler handler) {
  crash_handler = handler != nullptr ? handler : abort_plainly_handler;
}

void install_signal_handlers() {
  (void)units();  // the table exists before any handler can look at it
  struct sigaction sa {};
  sa.sa_sigaction = on_signal;
  sa.sa_mask = handled_signals();
  sa.sa_flags = SA_RESTART | SA_SIGINFO;
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
