#include "terminator.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "statement.h"
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

constexpr std::array kHandledSignals{SIGFPE, SIGABRT, SIGINT, SIGTERM};

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kHandledSignals) sigaddset(&set, sig);
  return set;
}

void write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
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

std::string diagnostic(const char* context, const Failure& failure) {
  const StatementState& s = state();
  std::string out = context;
  out += ": ";
  switch (failure.kind) {
    case Failure::Kind::kSystem:
      out += std::strerror(failure.code);
      break;
    case Failure::Kind::kEndOfFile:
      out += "end of file";
      break;
    case Failure::Kind::kRuntime:
      out += error_text(static_cast<RuntimeError>(failure.code));
      break;
    case Failure::Kind::kText:
      out += failure.text;
      break;
  }
  out += "\napparent state: unit ";
  out += std::to_string(s.unit);
  out += ' ';
  const bool known_unit = s.unit >= 0 && s.unit < kUnitCount;
  if (known_unit && units().unit(s.unit).named()) {
    out += "named ";
    out += units().unit(s.unit).name();
  } else {
    out += "(unnamed)";
  }
  out += '\n';
  if (s.format != nullptr) {
    out += "last format: ";
    out += s.format;
    out += '\n';
  }
  out += "lately ";
  out += s.writing ? "writing" : "reading";
  out += " sequential formatted external IO\n";
  return out;
}

// Runs inside a signal handler: write(2), lseek(2), ftruncate(2), close(2), _exit(2) and abort
// only, all of them async-signal-safe. The handlers hold the four handled signals blocked, so one
// never interrupts another.
extern "C" void on_signal(int sig) {
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

void fatal(const char* context, Failure failure) {
  // The signals stay deliverable: a unit changes shape only with them held back, so a handler
  // that interrupts the closing here finds consistent units and finishes the job itself.
  write_all(STDERR_FILENO, diagnostic(context, failure));
  units().close_all_quietly(true);
  abort_plainly();
}

void install_signal_handlers() {
  (void)units();  // the table exists before any handler can look at it
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sa.sa_mask = handled_signals();
  sa.sa_flags = SA_RESTART;
  sigaction(SIGFPE, &sa, nullptr);
  sigaction(SIGABRT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  if (before.sa_handler != SIG_IGN) sigaction(SIGINT, &sa, nullptr);
}

SignalGuard::SignalGuard() {
  const sigset_t blocked = handled_signals();
  sigprocmask(SIG_BLOCK, &blocked, &saved_);
}

SignalGuard::~SignalGuard() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace recordio
