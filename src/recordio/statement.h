// The statement in progress and the runtime state the statements share.
#pragma once

#include "recordio.h"
#include "terminator.h"
#include "unit_table.h"

namespace recordio {

// The format line of a diagnostic shows this while a list-directed statement is current.
inline constexpr const char* kListIo = "list io";

struct StatementState {
  ftnint unit = 0;               // the current unit
  const char* format = nullptr;  // the current format text; nullptr when none is current
  bool writing = false;          // direction of the last statement
  bool end_exit = false;         // the statement in progress has an end-of-file exit
  Unit* active = nullptr;        // the unit of the statement in progress
};

StatementState& state();

enum class Direction { kReading, kWriting };

// Starts a READ or WRITE: makes its unit and format current, sets the direction and readies the
// unit (connecting it by default when no OPEN did). Returns nullptr when end of file is met at
// the start of a statement with an end-of-file exit; without an exit that is fatal.
Unit* start_statement(const cilist& c, const char* format, Direction direction);

// End of file met while transferring an item: -1 with an exit, fatal ("fmt") without.
int end_of_file_in_transfer();

// The fatal path from a statement's entry point: the failure with the runtime's state, the
// current unit named when it has a name.
[[noreturn]] void fatal(const char* context, Failure failure);

}  // namespace recordio
