// The fatal path: every failure of a statement ends here.
#pragma once

#include <string_view>

#include "failure.h"

namespace recordio {

class FileLayer;
class UnitTable;

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

// Ends the process after a fatal error. A test may put a handler in place that unwinds instead,
// to look at the lines in-process; a handler should not return, and one that does is followed by
// the abort. Without one: an abort that adds no message of its own.
using CrashHandler = void (*)();

// Writes the diagnostic's lines to standard error, closes every unit of `units` and ends the
// process through `handler`.
[[noreturn]] void crash(const Diagnostic& diagnostic, UnitTable& units, CrashHandler handler);

// Writes the message of a run ended by the handled signal `sig` ("Interrupt", ...) and a line
// end to standard error, as far as the stream takes them without waiting. Called from the
// handler that ends the run, which is one at a time; the text stays in place for a write the
// platform leaves running.
void write_signal_message(FileLayer& files, int sig) noexcept;

}  // namespace recordio
