// Formatted READ and WRITE: the statement walks its format and hands each item to an editor.
#include <cstring>
#include <string_view>

#include "format.h"
#include "input_editing.h"
#include "output_editing.h"
#include "record_buffer.h"
#include "recordio.h"
#include "statement.h"
#include "terminator.h"

namespace recordio {
namespace {

// What the walk asks of a READ: literals are skipped column for column; starting the format
// over moves to the next record.
struct ReadContext {
  Unit& unit;
  void literal(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const int c = unit.peek();
      if (c == kLineEnd || c == kEndOfFile) return;
      unit.take();
    }
  }
  void end_record() {
    if (!unit.skip_record()) unit.set_end_flag();
  }
};

// What the walk asks of a WRITE: literals go into the record; starting the format over writes
// the record out and begins the next.
struct WriteContext {
  Unit& unit;
  RecordBuffer& record;
  void literal(std::string_view text) { record.append(text); }
  void end_record() {
    unit.put_record(record.view());
    record.clear();
  }
};

struct FormattedStatement {
  FormatWalk walk;
  RecordBuffer record;  // the record being written
};

constinit FormattedStatement current;

FormattedStatement& statement() {
  return current;
}

const DataEdit& next_edit(const DataEdit* edit) {
  if (edit == nullptr) fatal("fmt", Failure::runtime(RuntimeError::kFormat));
  return *edit;
}

[[noreturn, gnu::noinline]] void mismatch() {
  fatal("fmt", Failure::message("item does not match its edit descriptor"));
}

[[gnu::noinline]] EditStatus read_text_item(Unit& unit, const DataEdit& edit, char* item,
                                            ftnlen len) {
  return read_characters(unit, item, len, edit.width == 0 ? len : static_cast<ftnlen>(edit.width));
}

int read_item(Unit& unit, const DataEdit& edit, char* item, ftnlen len) {
  EditStatus status;
  if (edit.code == 'A') {
    status = read_text_item(unit, edit, item, len);
  } else {
    if (len != sizeof(float)) mismatch();
    float value;
    status = read_real(unit, edit.width, edit.decimals, value);
    if (status == EditStatus::kOk) std::memcpy(item, &value, sizeof value);
  }
  if (status == EditStatus::kEndOfFile) return end_of_file_in_transfer();
  if (status == EditStatus::kUnexpected) fatal("fmt", Failure::runtime(RuntimeError::kUnexpected));
  return 0;
}

[[noreturn, gnu::noinline]] void unsupported_output() {
  fatal("fmt", Failure::message("formatted output is F editing only"));
}

void write_item(RecordBuffer& record, const DataEdit& edit, const char* item, ftnlen len) {
  if (edit.code != 'F') unsupported_output();
  if (len != sizeof(float)) mismatch();
  float value;
  std::memcpy(&value, item, sizeof value);
  write_fixed(record.extend(static_cast<std::size_t>(edit.width)), value, edit.width,
              edit.decimals);
}

}  // namespace

int s_rsfe(const cilist* c) {
  if (start_statement(*c, c->format, Direction::kReading) == nullptr) return -1;
  statement().walk.start(Format::of(c->format));
  return 0;
}

int s_wsfe(const cilist* c) {
  start_statement(*c, c->format, Direction::kWriting);
  FormattedStatement& s = statement();
  s.walk.start(Format::of(c->format));
  s.record.clear();
  return 0;
}

namespace {

// Reading and writing are kept apart so that each stays small around its editor.
[[gnu::noinline]] int write_items(ftnint count, char* item, ftnlen len) {
  FormattedStatement& s = statement();
  WriteContext context{*state().active, s.record};
  for (ftnint i = 0; i < count; ++i, item += len) {
    write_item(s.record, next_edit(s.walk.next(context)), item, len);
  }
  return 0;
}

[[gnu::noinline]] int read_items(ftnint count, char* item, ftnlen len) {
  FormattedStatement& s = statement();
  Unit& unit = *state().active;
  ReadContext context{unit};
  for (ftnint i = 0; i < count; ++i, item += len) {
    if (read_item(unit, next_edit(s.walk.next(context)), item, len) != 0) return -1;
  }
  return 0;
}

}  // namespace

int do_fio(ftnint count, void* addr, ftnlen len) {
  auto* item = static_cast<char*>(addr);
  return state().writing ? write_items(count, item, len) : read_items(count, item, len);
}

int e_rsfe() {
  Unit& unit = *state().active;
  ReadContext context{unit};
  statement().walk.finish(context);
  state().format = nullptr;
  if (unit.end_flag() || !unit.skip_record()) {
    unit.set_end_flag();
    return -1;
  }
  return 0;
}

int e_wsfe() {
  FormattedStatement& s = statement();
  Unit& unit = *state().active;
  WriteContext context{unit, s.record};
  s.walk.finish(context);
  unit.put_record(s.record.view());
  s.record.clear();
  state().format = nullptr;
  return 0;
}

}  // namespace recordio
