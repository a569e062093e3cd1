#include "statement.h"

namespace recordio {

namespace {
constinit Statement current;
}

Statement& statement() {
  return current;
}

Unit* start_statement(const cilist& c, const char* format, Direction direction) {
  Statement& s = statement();
  s.unit = c.unit;
  s.format = format;
  s.writing = direction == Direction::kWriting;
  s.end_exit = c.end != 0;
  Unit* u = s.active;
  if (u == nullptr || c.unit != s.active_number || !u->connected()) {
    s.active_number = -1;
    u = units().at(c.unit);
    if (u == nullptr) fatal("unit", Failure::runtime(RuntimeError::kUnitNumber));
    if (!u->connected()) {
      // The run reads and writes only the standard streams and the units it has opened.
      fatal(s.writing ? "write start" : "read start", Failure::message("unit not connected"));
    }
    s.active = u;
    s.active_number = c.unit;
  }
  if (s.writing) {
    if (u->mode() == Mode::kReadOnly) {
      fatal("write start", Failure::runtime(RuntimeError::kCantWrite));
    }
    u->begin_writing();
    return u;
  }
  u->begin_reading();
  settle(0);
  if (u->end_flag()) {
    if (s.end_exit) return nullptr;
    fatal("read start", Failure::end_of_file());
  }
  return u;
}

int end_of_file_in_transfer() {
  settle(0);
  if (statement().end_exit) return -1;
  fatal("fmt", Failure::end_of_file());
}

int end_reading_record(Unit& unit) {
  if (!unit.end_flag() && unit.skip_record()) return 0;
  settle(0);
  unit.set_end_flag();
  return -1;
}

void fatal(const char* context, Failure failure) {
  const Statement& s = statement();
  const Unit* unit = units().at(s.unit);
  crash({context, failure, s.unit, unit != nullptr && unit->named() ? unit->name() : "", s.format,
         s.writing});
}

void report_unit_failure() {
  const UnitFailure f = take_unit_failure();
  statement().unit = f.unit;
  fatal(f.context, f.failure);
}

}  // namespace recordio
