// What every statement entry point does with the statement in progress: starting it on its unit,
// settling the failures its units noted, and ending at the end of the file.
//
// The entry points (s_, do_, e_, f_) are the one place where a failure becomes the fatal path:
// below them, failures are values.
#pragma once

#include "recordio.h"
#include "runtime.h"

namespace recordio {

// The statement in progress.
inline Statement& statement() {
  return runtime().statement;
}

enum class Direction { kReading, kWriting };

// Reports a failure a unit noted during the call on the fatal path, against that unit;
// otherwise returns `result`.
[[noreturn]] void report_unit_failure();
inline int settle(int result) {
  if (runtime().units.failed()) [[unlikely]]
    report_unit_failure();
  return result;
}

// The parts of a statement's start that are seldom met, out of line: looking the unit up (a
// statement on another unit than the last, or on one connected since), and the fatal or
// end-of-file ends.
Unit* connect_statement(const cilist& c);
Unit* start_writing(const cilist& c);
Unit* end_of_file_at_start();

// Starts a READ or WRITE: makes its unit and format current, sets the direction and readies the
// unit. Returns nullptr when end of file is met at the start of a statement with an end-of-file
// exit; without an exit that is fatal.
inline Unit* start_statement(const cilist& c, const char* format, Direction direction) {
  Statement& s = statement();
  s.unit = c.unit;
  s.format = format;
  s.writing = direction == Direction::kWriting;
  s.end_exit = c.end != 0;
  if (s.writing) {
    if (ready_key(c.unit) == s.ready_to_write) [[likely]]
      return s.active;
    return start_writing(c);
  }
  s.ready_to_write = 0;
  Unit* u = s.active;
  if (u == nullptr || c.unit != s.active_number || !u->connected()) [[unlikely]]
    u = connect_statement(c);
  u->begin_reading();
  settle(0);
  if (u->end_flag()) [[unlikely]]
    return end_of_file_at_start();
  return u;
}

// End of file met while transferring an item: -1 with an exit, fatal ("fmt") without. A read
// that failed is reported first: it is not the end of the file.
int end_of_file_in_transfer();

// The end of a READ: the rest of the record is skipped through its line end. At the end of the
// file the unit's end flag is set and -1 returned, with or without an exit.
int end_of_file_at_record_end(Unit& unit);
inline int end_reading_record(Unit& unit) {
  if (!unit.end_flag() && unit.skip_record()) [[likely]]
    return 0;
  return end_of_file_at_record_end(unit);
}

// The fatal path: the failure with the statement's state, the current unit named when it has a
// name.
[[noreturn]] void fatal(const char* context, Failure failure);

}  // namespace recordio
