// Formatted READ and WRITE: the statement walks its compiled format and hands each item to the
// editor its edit descriptor names. A WRITE puts each data item's literal before its field; a
// READ's format has no literals.
//
// Two kinds of format have a fast path, chosen by the tests their editors give for what they
// handle: a READ whose format begins with a data record's fields reads them together
// (record_reader.h), and a row format's fields are written in place in the room their statement
// made (output_editing.h). Every other format goes through the general editors.
#include <bit>
#include <cstring>
#include <iterator>
#include <string_view>

#include "format.h"
#include "input_editing.h"
#include "output_editing.h"
#include "record_reader.h"
#include "recordio.h"
#include "statement.h"
#include "terminator.h"

namespace recordio {
namespace {

[[noreturn, gnu::noinline]] void format_error() {
  fatal("fmt", Failure::runtime(RuntimeError::kFormat));
}

[[noreturn, gnu::noinline]] void mismatch() {
  fatal("fmt", Failure::message("item does not match its edit descriptor"));
}

[[noreturn, gnu::noinline]] void unsupported_output() {
  fatal("fmt", Failure::message("formatted output is F editing only"));
}

// The compiled format of a statement's text, and what the statements do with it, decided by its
// editors' tests (Statement::plan): whether a READ reads its first items as a data record's
// fields, and for a row format the room one of its rows takes (0 for any other format). A text
// that does not compile is fatal.
const FormatPlan& plan_of(const char* text) {
  FormatPlan& plan = statement().plan;
  if (text != plan.text) [[unlikely]] {
    const Format* format = runtime().formats.of(text);
    if (format == nullptr) format_error();
    plan = {text, format, begins_with_record_fields(*format), row_room(*format)};
  }
  return plan;
}

// --- Reading

// An editor's outcome as the item's result.
int item_result(EditStatus status) {
  if (status == EditStatus::kEndOfFile) return end_of_file_in_transfer();
  if (status == EditStatus::kUnexpected) fatal("fmt", Failure::runtime(RuntimeError::kUnexpected));
  return settle(0);
}

// An item read by the editor its edit descriptor names. Past the format's end, the item after the
// last has no edit, which is fatal.
[[gnu::noinline]] int read_item(Unit& unit, const DataEdit& edit, char* item, ftnlen len) {
  EditStatus status;
  switch (edit.code) {
    case 'A':
      status =
          read_characters(unit, item, len, edit.width == 0 ? len : static_cast<ftnlen>(edit.width));
      break;
    case 'E':
    case 'F': {
      if (len != sizeof(float)) mismatch();
      float value;
      status = read_real(unit, edit.width, edit.decimals, value);
      if (status == EditStatus::kOk) std::memcpy(item, &value, sizeof value);
      break;
    }
    default:
      format_error();
  }
  return item_result(status);
}

// The record's fields read ahead from field f on, up to the first the record reader left, are
// served to the items that follow: the unit and the walk move past their columns and items now.
void serve_from(Statement& s, unsigned f) {
  ReadAhead& a = s.ahead;
  const auto run = static_cast<unsigned>(std::countr_one(a.mask >> f));
  a.mask &= ~(((1u << run) - 1) << f);
  a.next = f;
  a.end = f + run;
  s.active->skip(run * kFieldWidth);
  s.walk.skip(run);
}

// Reads the data record's fields together, at the first item of a READ whose format begins with
// them. The unit first holds the record's columns (and the byte after them, which tells a CR
// from a CR LF) in one piece.
void read_ahead(Statement& s) {
  ReadAhead& a = s.ahead;
  a.pending = false;
  Unit& unit = *s.active;
  unit.make_contiguous(kRecordColumns + 1);
  const std::string_view bytes = unit.buffered();
  a.mask = read_record(bytes.data(), bytes.size(), s.walk.format().begin(), a.values);
  serve_from(s, 0);
}

// A field of the record that the record reader left, read by the full scan where it stands. The
// record reader read a field after it, so its columns and the byte after them are in memory, and
// the scan reads them there. When the scan used exactly the field's columns, the fields after it
// begin where the record reader read them, and are served; when a comma or the line end ended
// it early, they begin elsewhere, and every item after it is read on its own.
[[gnu::noinline]] int read_left_field(Statement& s, char* item) {
  ReadAhead& a = s.ahead;
  const unsigned f = a.end;
  Unit& unit = *s.active;
  const char* const start = unit.buffered().data();
  const int result = read_item(unit, s.walk.take().edit, item, sizeof(float));
  if (result == 0) {
    if (unit.buffered().data() - start == kFieldWidth) {
      serve_from(s, f + 1);
    } else {
      a.mask = 0;
    }
  }
  return result;
}

int read_one(Statement& s, char* item);

// An item with no value waiting for it: the READ's first, which reads the record's fields together
// when its format begins with them; a field of the record that the record reader left; or an item
// read on its own. Out of line, so that an item served a waiting value needs no stack frame.
[[gnu::noinline]] int read_unserved(Statement& s, char* item) {
  ReadAhead& a = s.ahead;
  if (a.pending) {
    read_ahead(s);
    return read_one(s, item);
  }
  if (a.mask != 0) return read_left_field(s, item);
  return read_item(*s.active, s.walk.take().edit, item, sizeof(float));
}

// One single-precision item read: a value waiting for it, or the item through read_unserved.
int read_one(Statement& s, char* item) {
  ReadAhead& a = s.ahead;
  if (a.next == a.end) [[unlikely]]
    return read_unserved(s, item);
  std::memcpy(item, &a.values[a.next++], sizeof(float));
  return 0;
}

// An item that is no single-precision value. A data record's fields, read ahead or about to be,
// are numeric, and such an item does not match them.
int read_other(Statement& s, char* item, ftnlen len) {
  ReadAhead& a = s.ahead;
  a.pending = false;
  if (a.next != a.end) mismatch();
  return read_item(*s.active, s.walk.take().edit, item, len);
}

// --- Writing

// The item's literal, then its field, at the end of the record being built; then whatever a
// record that outgrew the buffer met in writing out what was published. Past the format's end,
// the item after the last has no edit, which is fatal.
[[gnu::noinline]] int write_item(Unit& unit, const Format& format, const DataItem& data,
                                 const char* item, ftnlen len) {
  const DataEdit& edit = data.edit;
  switch (edit.code) {
    case 'F':
      break;
    case 'A':
    case 'E':
      unsupported_output();
    default:
      format_error();
  }
  if (len != sizeof(float)) mismatch();
  float value;
  std::memcpy(&value, item, sizeof value);
  const std::size_t prefix = data.prefix_length;
  char* at = unit.extend_record(prefix + static_cast<std::size_t>(edit.width));
  std::memcpy(at, format.prefix(data).data(), prefix);
  write_fixed(at + prefix, value, edit.width, edit.decimals);
  return settle(0);
}

// A row format's record fits the buffer whole, with room to spare for the extend_record calls.
static_assert(Format::kMaxParts * 11 + Format::kMaxLiteralBytes + 2 < Unit::kBufferSize / 2);
// has_room(0), for every other format, always holds: a record never fills the buffer.

// One single-precision item of a format that is no row format.
int write_one(Statement& s, char* item) {
  return write_item(*s.active, s.walk.format(), s.walk.take(), item, sizeof(float));
}

// One field of a row format, written in place after the record's end, in the room its statement
// made, which needs no system call. Every item of the format is a row field; the item after the
// last has no width, which is fatal.
int write_row_item(Statement& s, char* item) {
  const DataItem& data = s.walk.take();
  Unit& unit = *s.active;
  char* field = unit.record_end();
  // The literal before the field has at most one byte; without one, the byte put here is the
  // field's first column's until the field is written. In a row format every item's literal
  // begins within the first Format::kMaxParts bytes of the literal pool, so the byte is in it.
  *field = s.walk.format().prefix(data).data()[0];
  field += data.prefix_length;
  float value;
  std::memcpy(&value, item, sizeof value);
  // The record's end moves past the field first: the field's editor ends the item.
  switch (data.edit.width) {
    case 10:
      unit.set_record_end(field + 10);
      return write_row_field<10>(field, value);
    case 7:
      unit.set_record_end(field + 7);
      return write_row_field<7>(field, value);
    default:
      format_error();
  }
}

// A call with several items, or items that are not single-precision values: each item as a
// call of its own would be, through the editors out of line.
[[gnu::noinline]] int transfer_items(Statement& s, ftnint count, char* item, ftnlen len) {
  if (s.item_path == ItemPath::kNone) format_error();  // no formatted statement has started
  for (ftnint i = 0; i < count; ++i, item += len) {
    int status;
    if (s.writing) {
      status = write_item(*s.active, s.walk.format(), s.walk.take(), item, len);
    } else if (len == sizeof(float)) {
      status = read_one(s, item);
    } else {
      status = read_other(s, item, len);
    }
    if (status != 0) return -1;
  }
  return 0;
}

// Before any formatted statement: the item has no format to take it, which is fatal.
int item_without_format(Statement&, char*) {
  format_error();
}

// A single-precision item's transfer, by the statement's ItemPath.
constexpr int (*kItemPaths[])(Statement&, char*) = {item_without_format, read_one, write_one,
                                                    write_row_item};
static_assert(std::size(kItemPaths) == static_cast<std::size_t>(ItemPath::kWriteRow) + 1);

}  // namespace

int s_rsfe(const cilist* c) {
  if (start_statement(*c, c->format, Direction::kReading) == nullptr) return -1;
  const FormatPlan& plan = plan_of(c->format);
  // Literals are written by WRITE statements only.
  if (plan.format->has_literals()) format_error();
  Statement& s = statement();
  s.walk.start(*plan.format);
  s.item_path = ItemPath::kRead;
  s.ahead.start(plan.record);
  return 0;
}

int s_wsfe(const cilist* c) {
  Unit* unit = start_statement(*c, c->format, Direction::kWriting);
  const FormatPlan& plan = plan_of(c->format);
  Statement& s = statement();
  s.walk.start(*plan.format);
  s.item_path = plan.row_room != 0 ? ItemPath::kWriteRow : ItemPath::kWrite;
  // A row is built whole in the buffer: room for all of it and its line end is made now (by
  // writing out what is published, as a field that found no room would), so that its fields
  // need no check. Nothing else in starting a WRITE can fail but fatally.
  if (!unit->has_room(plan.row_room)) [[unlikely]] {
    unit->make_room();
    settle(0);
  }
  return 0;
}

int do_fio(ftnint count, void* addr, ftnlen len) {
  // One call per item: a value read ahead and a row's field are served by the statement's item
  // path without a stack frame of their own; every other item goes to an editor out of line.
  Statement& s = statement();
  auto* item = static_cast<char*>(addr);
  if (count == 1 && len == sizeof(real)) [[likely]]
    return kItemPaths[static_cast<std::size_t>(s.item_path)](s, item);
  return transfer_items(s, count, item, len);
}

int e_rsfe() {
  Statement& s = statement();
  s.format = nullptr;
  s.ahead.finish();
  return end_reading_record(*s.active);
}

int e_wsfe() {
  Statement& s = statement();
  const std::string_view rest = s.walk.rest();
  if (!rest.empty()) s.active->append_to_record(rest);
  s.active->end_record();
  // A write that failed in ending the row is reported with the row's format still current.
  settle(0);
  s.format = nullptr;
  return 0;
}

}  // namespace recordio
