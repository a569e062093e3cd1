// The fatal path: every failure of a statement ends here, and so do the runtime's signals.
#pragma once

#include <string_view>

#include "failure.h"

namespace recordio {

// The text of one of the runtime's own error codes, for the first diagnostic line.
const char* error_text(RuntimeError e);

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

}  // namespace recordio
