// The statement in progress: one object holds the current unit, format and direction (which a
// diagnostic reports), the end-of-file exit, and the position in the format. The record being
// written is built in place in the unit's buffer.
//
// The entry points (s_, do_, e_, f_) are the one place where a failure becomes the fatal path:
// below them, failures are values.
#pragma once

#include "format.h"
#include "record_reader.h"
#include "recordio.h"
#include "terminator.h"
#include "unit_table.h"

namespace recordio {

// The format line of a diagnostic shows this while a list-directed statement is current.
inline constexpr const char* kListIo = "list io";

struct Statement;
// A formatted statement's transfer of one single-precision item, chosen at its start by its
// direction and its format.
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
  ReadAhead ahead;                         // a formatted READ's record fields read ahead
  ftnint active_number = -1;   // the number of `active`: a statement on the same unit, still
                               // connected, need not look it up again
  ftnint writing_number = -1;  // the number of `active` while it has been writing since its
                               // last READ, and no OPEN or CLOSE came since: a WRITE on it is
                               // ready to go
};

Statement& statement();

enum class Direction { kReading, kWriting };

// Reports a failure a unit noted during the call on the fatal path, against that unit;
// otherwise returns `result`.
[[noreturn]] void report_unit_failure();
inline int settle(int result) {
  if (unit_failed()) [[unlikely]]
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
    if (c.unit == s.writing_number) [[likely]]
      return s.active;
    return start_writing(c);
  }
  s.writing_number = -1;
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
