#include "statement.h"

namespace recordio {

Unit* connect_statement(const cilist& c) {
  Statement& s = statement();
  Unit* u = runtime().units.at(c.unit);
  if (u == nullptr) fatal("unit", Failure::runtime(RuntimeError::kUnitNumber));
  if (!u->connected()) {
    // The run reads and writes only the standard streams and the units it has opened.
    fatal(s.writing ? "write start" : "read start", Failure::message("unit not connected"));
  }
  s.active = u;
  s.active_number = c.unit;
  return u;
}

Unit* start_writing(const cilist& c) {
  Statement& s = statement();
  s.ready_to_write = 0;
  Unit* u = s.active;
  if (u == nullptr || c.unit != s.active_number || !u->connected()) u = connect_statement(c);
  if (u->mode() == Mode::kReadOnly)
    fatal("write start", Failure::runtime(RuntimeError::kCantWrite));
  u->begin_writing();
  s.ready_to_write = ready_key(c.unit);
  // A failure noted since the last statement that settled (a READ's end that read more) is
  // reported before anything is written. A WRITE on the unit that wrote last follows a statement
  // that settled.
  settle(0);
  return u;
}

Unit* end_of_file_at_start() {
  if (statement().end_exit) return nullptr;
  fatal("read start", Failure::end_of_file());
}

int end_of_file_in_transfer() {
  settle(0);
  if (statement().end_exit) return -1;
  fatal("fmt", Failure::end_of_file());
}

int end_of_file_at_record_end(Unit& unit) {
  settle(0);
  unit.set_end_flag();
  return -1;
}

void fatal(const char* context, Failure failure) {
  Runtime& rt = runtime();
  const Statement& s = rt.statement;
  const Unit* unit = rt.units.at(s.unit);
  crash({context, failure, s.unit, unit != nullptr && unit->named() ? unit->name() : "", s.format,
         s.writing},
        rt.units, rt.crash_handler);
}

void report_unit_failure() {
  Runtime& rt = runtime();
  const UnitFailure f = rt.units.take_failure();
  rt.statement.unit = f.unit;
  fatal(f.context, f.failure);
}

}  // namespace recordio
