// The runtime's mutable state, all of it in one object: the unit table (with the file layer in
// use and the signal guards' state), the statement in progress, the compiled formats, the crash
// handler and what start-up recorded. The program and its signal handlers share one static
// instance; a test starts it over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.h"
#include "record_reader.h"
#include "recordio.h"
#include "terminator.h"
#include "unit_table.h"

namespace recordio {

// The format line of a diagnostic shows this while a list-directed statement is current.
inline constexpr const char* kListIo = "list io";

// How a formatted statement transfers a single-precision item, chosen at its start by its
// direction and its format. Before any formatted statement: none, and an item is fatal.
enum class ItemPath : unsigned char { kNone, kRead, kWrite, kWriteRow };

// The format text statements saw last, its compiled form, and what they do with it, as
// formatted_io.cpp decides it by the editors' own tests: whether a READ reads its first items as
// a data record's fields, and the room a row of a row format takes (0 for any other format).
// Statements in a loop use one format over and over, and a text's address identifies it.
struct FormatPlan {
  const char* text = nullptr;
  const Format* format = nullptr;
  bool record = false;
  std::size_t row_room = 0;
};

// The key a unit number is ready to write under: never 0, whatever the number.
constexpr std::int64_t ready_key(ftnint unit) {
  return std::int64_t{unit} + (std::int64_t{1} << 32);
}

// The statement in progress. Every member starts as zero, so that the runtime starts as zeros
// (static storage that costs nothing until used).
struct Statement {
  ftnint unit = 0;               // the current unit's number
  const char* format = nullptr;  // the current format text, kListIo, or nullptr when none is
  bool writing = false;          // the direction of the last statement
  bool end_exit = false;         // the statement in progress has an end-of-file exit
  Unit* active = nullptr;        // the unit of the statement in progress
  ftnint active_number = 0;      // the number of `active` (when there is one): a statement on
                                 // the same unit, still connected, need not look it up again
  // ready_key of the number of `active` while it has been writing since its last READ, and no
  // OPEN or CLOSE came since (a WRITE on it is ready to go); 0, no unit's key, else.
  std::int64_t ready_to_write = 0;
  FormatWalk walk;  // a formatted statement's position in its format
  ItemPath item_path = ItemPath::kNone;
  ReadAhead ahead;  // a formatted READ's record fields read ahead
  FormatPlan plan;  // of the format text seen last
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
