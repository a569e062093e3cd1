// List-directed WRITE (console lines) and the item-less list-directed READ (skipping a record).
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "output_editing.h"
#include "recordio.h"
#include "statement.h"

namespace recordio {
namespace {

// A list-directed line longer than this is broken before the item that would reach it.
constexpr std::size_t kLineLimit = 80;

// Ends the line first when an item of `length` would reach the limit of a line that holds
// something.
void make_room(Unit& line, std::size_t length) {
  if (line.record_length() != 0 && line.record_length() + length >= kLineLimit) {
    line.end_record();
  }
}

void put_character(Unit& line, const char* item, std::size_t n) {
  make_room(line, n);
  if (line.record_length() == 0) *line.extend_record(1) = ' ';
  line.append_to_record({item, n});
}

void put_integer(Unit& line, std::int32_t value) {
  const std::uint32_t magnitude =
      value < 0 ? 0 - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  char text[16] = {' ', '-'};
  char* const digits = text + 2;
  const char* end = std::to_chars(digits, text + sizeof text, magnitude).ptr;
  make_room(line, static_cast<std::size_t>(end - digits));
  // One blank, then the minus sign of a negative value, then the digits.
  const char* begin = value < 0 ? text : digits - 1;
  if (value >= 0) digits[-1] = ' ';
  line.append_to_record({begin, static_cast<std::size_t>(end - begin)});
}

void put_real(Unit& line, float value) {
  char text[32];
  const std::size_t length = list_real_text(value, text);
  make_room(line, length);
  line.append_to_record({text, length});
}

}  // namespace

int s_wsle(const cilist* c) {
  start_statement(*c, kListIo, Direction::kWriting);
  return settle(0);
}

int do_lio(int type, ftnint count, const void* addr, ftnlen len) {
  Statement& s = statement();
  if (!s.writing) fatal("lio", Failure::message("list-directed input of items is not supported"));
  Unit& line = *s.active;
  const auto* bytes = static_cast<const char*>(addr);
  for (ftnint i = 0; i < count; ++i, bytes += len) {
    switch (type) {
      case kTypeCharacter:
        put_character(line, bytes, len);
        break;
      case kTypeInteger: {
        std::int32_t v;
        std::memcpy(&v, bytes, sizeof v);
        put_integer(line, v);
        break;
      }
      case kTypeReal: {
        float v;
        std::memcpy(&v, bytes, sizeof v);
        put_real(line, v);
        break;
      }
      default:
        fatal("lio", Failure::message("unknown item type"));
    }
  }
  return settle(0);
}

int e_wsle() {
  statement().active->end_record();
  return settle(0);
}

int s_rsle(const cilist* c) {
  return settle(start_statement(*c, kListIo, Direction::kReading) == nullptr ? -1 : 0);
}

int e_rsle() {
  // No character of the record is looked at: it is consumed whole, whatever it holds.
  return end_reading_record(*statement().active);
}

}  // namespace recordio
