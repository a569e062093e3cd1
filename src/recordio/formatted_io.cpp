// Formatted READ and WRITE: the statement walks its compiled format and hands each item to an
// editor. A WRITE puts each data item's literal before its field; a READ's format has no
// literals.
#include <cstring>
#include <string_view>

#include "format.h"
#include "input_editing.h"
#include "output_editing.h"
#include "recordio.h"
#include "statement.h"
#include "terminator.h"

namespace recordio {
namespace {

[[noreturn, gnu::noinline]] void format_error() {
  fatal("fmt", Failure::runtime(RuntimeError::kFormat));
}

// The next data item of the statement's format; more items than the format has is fatal.
[[gnu::always_inline]] inline const DataItem& next_item(FormatWalk& walk) {
  if (walk.at_end()) [[unlikely]]
    format_error();
  return walk.take();
}

[[noreturn, gnu::noinline]] void mismatch() {
  fatal("fmt", Failure::message("item does not match its edit descriptor"));
}

[[noreturn, gnu::noinline]] void unsupported_output() {
  fatal("fmt", Failure::message("formatted output is F editing only"));
}

[[gnu::noinline]] EditStatus read_text_item(Unit& unit, const DataEdit& edit, char* item,
                                            ftnlen len) {
  return read_characters(unit, item, len, edit.width == 0 ? len : static_cast<ftnlen>(edit.width));
}

// Every item but the common field. Kept out of line: the item loop stays small around the
// common field's reader.
[[gnu::noinline]] int read_item(Unit& unit, const DataEdit& edit, char* item, ftnlen len) {
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
  return settle(0);
}

// An item the in-line paths leave: past the format's end, which is fatal, or for an editor.
[[gnu::noinline]] int read_taken(Statement& s, char* item) {
  if (s.walk.past_end()) format_error();
  return read_item(*s.active, s.walk.position()[-1].edit, item, sizeof(float));
}

// A single-precision item read on its own. The common field is read in place from the unit's
// buffer, which needs no system call and so nothing to settle; every other item goes to its
// editor out of line.
[[gnu::noinline]] int read_field(Statement& s, char* item) {
  const DataItem& data = s.walk.take();
  float value;
  if (data.ten_columns && read_common_field(*s.active, data.edit.decimals, value)) {
    std::memcpy(item, &value, sizeof value);
    return 0;
  }
  return read_taken(s, item);
}

// Reads the data record's leading common fields together, at the first item of a READ whose
// format begins with them, when the unit holds their columns: their values wait in the
// statement for its items, and the unit and the walk move past them. False, for a record with
// any other field among them, which is then read field by field.
[[gnu::noinline]] bool read_ahead(Statement& s) {
  s.record_ahead = false;
  Unit& unit = *s.active;
  const std::string_view bytes = unit.buffered();
  if (bytes.size() < kRecordColumns ||
      !parse_record_fields(bytes.data(), s.walk.position(), s.ahead)) {
    return false;
  }
  unit.skip(kRecordColumns);
  s.walk.skip(kRecordFields);
  s.ahead_next = s.ahead;
  s.ahead_end = s.ahead + kRecordFields;
  return true;
}

int read_one(Statement& s, char* item);

// An item with no value read ahead for it: the READ's first, which reads the record's fields
// together when it can, or an item read on its own. Out of line, so that an item served from
// the values read ahead needs no stack frame.
[[gnu::noinline]] int read_unserved(Statement& s, char* item) {
  if (!s.record_ahead || !read_ahead(s)) return read_field(s, item);
  return read_one(s, item);
}

// One single-precision item read: a value the statement read ahead, or the item on its own.
int read_one(Statement& s, char* item) {
  if (s.ahead_next == s.ahead_end) [[unlikely]]
    return read_unserved(s, item);
  std::memcpy(item, s.ahead_next++, sizeof(float));
  return 0;
}

// The item's literal, then its field, at the end of the record being built; then whatever a
// record that outgrew the buffer met in writing out what was published.
[[gnu::noinline]] int write_item(Unit& unit, const Format& format, const DataItem& data,
                                 const char* item, ftnlen len) {
  const DataEdit& edit = data.edit;
  if (edit.code != 'F') unsupported_output();
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
static_assert(Format::kMaxParts * 11 + Format::kMaxLiteralBytes + 1 < Unit::kBufferSize / 2);
// has_room(0), for every other format, always holds: a record never fills the buffer.

// The single-precision item just taken, through write_item; past the format's end, fatal.
[[gnu::noinline]] int write_taken(Statement& s, const char* item) {
  if (s.walk.past_end()) format_error();
  return write_item(*s.active, s.walk.format(), s.walk.position()[-1], item, sizeof(float));
}

// One single-precision item written. A row format's fields are written in place after the
// record's end, in the room its statement made, which needs no system call; every other item,
// and a row field the editor leaves (asterisks, an infinity, a huge value), goes to write_item.
int write_one(Statement& s, char* item) {
  const DataItem& data = s.walk.take();
  if (data.row_width == 0) [[unlikely]]
    return write_taken(s, item);
  Unit& unit = *s.active;
  float value;
  std::memcpy(&value, item, sizeof value);
  char* field = unit.record_end();
  *field = data.separator;  // overwritten by the field when there is no separator
  field += data.prefix_length;
  if (!(data.row_width == 10 ? write_three_decimals<10>(field, value)
                             : write_three_decimals<7>(field, value))) [[unlikely]]
    return write_taken(s, item);
  unit.set_record_end(field + data.row_width);
  return 0;
}

// A call with several items, or items that are not single-precision values: each item as a
// call of its own would be, through the editors out of line.
[[gnu::noinline]] int transfer_items(Statement& s, ftnint count, char* item, ftnlen len) {
  s.record_ahead = false;  // the fields are read item by item
  for (ftnint i = 0; i < count; ++i, item += len) {
    if (!s.writing && s.ahead_next != s.ahead_end) {
      if (len != sizeof(float)) mismatch();
      std::memcpy(item, s.ahead_next++, sizeof(float));
      continue;
    }
    const DataItem& data = next_item(s.walk);
    const int status = s.writing ? write_item(*s.active, s.walk.format(), data, item, len)
                                 : read_item(*s.active, data.edit, item, len);
    if (status != 0) return -1;
  }
  return 0;
}

}  // namespace

int item_without_format(Statement&, char*) {
  format_error();
}

int s_rsfe(const cilist* c) {
  if (start_statement(*c, c->format, Direction::kReading) == nullptr) return -1;
  const Format* format = runtime().formats.of(c->format);
  // Literals are written by WRITE statements only.
  if (format == nullptr || format->has_literals()) format_error();
  Statement& s = statement();
  s.walk.start(*format);
  s.one_item = read_one;
  s.ahead_next = s.ahead_end = s.ahead;
  s.record_ahead = format->begins_with_record_fields();
  return 0;
}

int s_wsfe(const cilist* c) {
  Unit* unit = start_statement(*c, c->format, Direction::kWriting);
  const Format* format = runtime().formats.of(c->format);
  if (format == nullptr) format_error();
  Statement& s = statement();
  s.walk.start(*format);
  s.one_item = write_one;
  // A row is built whole in the buffer: room for all of it and its line end is made now (by
  // writing out what is published, as a field that found no room would), so that its fields
  // need no check. Nothing else in starting a WRITE can fail but fatally.
  if (!unit->has_room(format->row_room())) [[unlikely]] {
    unit->make_room();
    settle(0);
  }
  return 0;
}

int do_fio(ftnint count, void* addr, ftnlen len) {
  // One call per item: the common field and the rows' fields are edited here, in line; every
  // other item goes to an editor out of line.
  Statement& s = statement();
  auto* item = static_cast<char*>(addr);
  if (count == 1 && len == sizeof(real)) [[likely]]
    return s.one_item(s, item);
  return transfer_items(s, count, item, len);
}

int e_rsfe() {
  Statement& s = statement();
  s.format = nullptr;
  s.ahead_next = s.ahead_end;  // values not taken go with the record
  s.record_ahead = false;
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
