// The fatal path: every failure of a statement ends here, and so do the runtime's signals.
#pragma once

#include <csignal>
#include <string_view>

namespace recordio {

// The runtime's own error codes (100 to 132), each with its text.
enum class RuntimeError : int {
  kFormat = 100,      // "error in format"
  kUnitNumber = 101,  // "illegal unit number"
  kNullName = 107,    // "null file name"
  kTruncate = 111,    // "truncation failed in endfile"
  kUnexpected = 115,  // "read unexpected character"
  kCantWrite = 127,   // "can't write file"
};

const char* error_text(RuntimeError e);

// What went wrong, for the first diagnostic line.
struct Failure {
  enum class Kind { kSystem, kEndOfFile, kRuntime, kText };
  Kind kind;
  int code;          // errno for kSystem, the RuntimeError for kRuntime
  const char* text;  // kText only

  static Failure system(int errnum) { return {Kind::kSystem, errnum, nullptr}; }
  static Failure end_of_file() { return {Kind::kEndOfFile, -1, nullptr}; }
  static Failure runtime(RuntimeError e) { return {Kind::kRuntime, static_cast<int>(e), nullptr}; }
  static Failure message(const char* t) { return {Kind::kText, 0, t}; }
};

// A finished diagnostic: what failed, and the runtime's state when it did.
struct Diagnostic {
  const char* context;  // the work that failed: "open", "fmt", "write", ...
  Failure failure;
  int unit;                    // the unit it concerns
  std::string_view unit_name;  // empty for a unit without a name
  const char* format;          // the current format; nullptr when none is
  bool writing;                // the direction of the last statement
};

// Writes the diagnostic's lines to standard error, closes every unit and ends the process
// through the crash handler.
[[noreturn]] void crash(const Diagnostic& diagnostic);

// Ends the process after a fatal error; by default an abort that adds no message of its own.
// A test may put a handler that unwinds instead, to look at the lines in-process; a handler
// never returns.
using CrashHandler = void (*)();
void set_crash_handler(CrashHandler handler);

// Installs the handlers of the floating-point exception, abort, interrupt and termination
// signals, and of hang-up, quit, broken pipe and the file-size limit, which close every unit and
// then end the process by their own default action. An interrupt, hang-up, quit, broken pipe or
// file-size signal ignored when the process started stays ignored.
void install_signal_handlers();

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
