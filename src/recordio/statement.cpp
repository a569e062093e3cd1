#include "statement.h"

#include "terminator.h"

namespace recordio {

namespace {
constinit StatementState current;
}

StatementState& state() {
  return current;
}

Unit* start_statement(const cilist& c, const char* format, Direction direction) {
  StatementState& s = state();
  Unit& u = units().at(c.unit);
  s.unit = c.unit;
  s.format = format;
  s.writing = direction == Direction::kWriting;
  s.end_exit = c.end != 0;
  if (!u.connected()) {
    // The run reads and writes only the standard streams and the units it has opened.
    fatal(s.writing ? "write start" : "read start", Failure::message("unit not connected"));
  }
  s.active = &u;
  if (s.writing) {
    if (u.mode() == Mode::kReadOnly)
      fatal("write start", Failure::runtime(RuntimeError::kCantWrite));
    u.begin_writing();
    return &u;
  }
  u.begin_reading();
  if (u.end_flag()) {
    if (s.end_exit) return nullptr;
    fatal("read start", Failure::end_of_file());
  }
  return &u;
}

int end_of_file_in_transfer() {
  if (state().end_exit) return -1;
  fatal("fmt", Failure::end_of_file());
}

void fatal(const char* context, Failure failure) {
  const StatementState& s = state();
  const bool known_unit = s.unit >= 0 && s.unit < kUnitCount;
  const Unit* unit = known_unit ? &units().unit(s.unit) : nullptr;
  crash({context, failure, s.unit, unit != nullptr && unit->named() ? unit->name() : "", s.format,
         s.writing});
}

}  // namespace recordio
