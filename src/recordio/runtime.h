// The runtime's mutable state, all of it in one object: the unit table (with the file layer in
// use and the signal guards' state), the statement in progress, the compiled formats, the crash
// handler and what start-up recorded. The program and its signal handlers share one static
// instance; a test starts it over.
#pragma once

#include "format.h"
#include "recordio.h"
#include "terminator.h"
#include "unit_table.h"

namespace recordio {

// The format line of a diagnostic shows this while a list-directed statement is current.
inline constexpr const char* kListIo = "list io";

struct Statement;
// A formatted statement's transfer of one single-precision item, chosen by its direction.
using OneItem = int (*)(Statement&, char* item);
// Before any formatted statement: the item has no format to take it, which is fatal.
int item_without_format(Statement&, char* item);

struct Statement {
  ftnint unit = 0;               // the current unit's number
  const char* format = nullptr;  // the current format text, kListIo, or nullptr when none is
  bool writing = false;          // the direction of the last statement
  bool end_exit = false;         // the statement in progress has an end-of-file exit
  Unit* active = nullptr;        // the unit of the statement in progress
  FormatWalk walk;               // a formatted statement's position in its format
  OneItem one_item = item_without_format;  // set by a formatted statement's start
  // A formatted READ whose format begins with a data record's common fields reads them together
  // at its first item (record_ahead until then): their values wait here for the statement's
  // items, from ahead_next up to ahead_end.
  bool record_ahead = false;
  float ahead[kRecordFields] = {};
  const float* ahead_next = nullptr;
  const float* ahead_end = nullptr;
  ftnint active_number = -1;   // the number of `active`: a statement on the same unit, still
                               // connected, need not look it up again
  ftnint writing_number = -1;  // the number of `active` while it has been writing since its
                               // last READ, and no OPEN or CLOSE came since: a WRITE on it is
                               // ready to go
};

// What start-up recorded.
struct Startup {
  int argument_count = 0;
  char** arguments = nullptr;  // recorded; the run reads no argument
  bool exited = false;         // f_exit has run
};

struct Runtime {
  UnitTable units;
  Statement statement;
  FormatCache formats;
  CrashHandler crash_handler = nullptr;  // nullptr: the plain abort
  Startup startup;
};

// The one instance. It is made before any code runs and never destroyed: a signal handler or the
// exit handler may still close units while static objects are being torn down.
Runtime& runtime();

// Starts the runtime over, as a process starts it: every unit disconnected and its blocks given
// back, for a test that runs the runtime in-process again.
void reset_runtime();

}  // namespace recordio
