// List-directed WRITE (console lines) and the item-less list-directed READ (skipping a record).
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "output_editing.h"
#include "record_buffer.h"
#include "recordio.h"
#include "statement.h"
#include "terminator.h"

namespace recordio {
namespace {

// A list-directed line longer than this is broken before the item that would reach it.
constexpr std::size_t kLineLimit = 80;

struct ListWrite {
  Unit* unit = nullptr;
  RecordBuffer line;  // the line being built

  // Ends the line first when the item would reach the limit of a line that holds something.
  void make_room(std::size_t length) {
    if (!line.empty() && line.size() + length >= kLineLimit) {
      unit->put_record(line.view());
      line.clear();
    }
  }
};

constinit ListWrite current;

ListWrite& list_write() {
  return current;
}

void put_character(ListWrite& w, const char* item, std::size_t n) {
  w.make_room(n);
  if (w.line.empty()) w.line.push_back(' ');
  w.line.append({item, n});
}

void put_integer(ListWrite& w, std::int64_t value) {
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  w.make_room(static_cast<std::size_t>(end - digits));
  w.line.push_back(' ');
  if (value < 0) w.line.push_back('-');
  w.line.append({digits, static_cast<std::size_t>(end - digits)});
}

void put_real(ListWrite& w, float value) {
  char text[32];
  const std::size_t length = list_real_text(value, text);
  w.make_room(length);
  w.line.append({text, length});
}

}  // namespace

int s_wsle(const cilist* c) {
  ListWrite& w = list_write();
  w.unit = start_statement(*c, kListIo, Direction::kWriting);
  w.line.clear();
  return 0;
}

int do_lio(int type, ftnint count, const void* addr, ftnlen len) {
  if (!state().writing) {
    fatal("lio", Failure::message("list-directed input of items is not supported"));
  }
  ListWrite& w = list_write();
  const auto* bytes = static_cast<const char*>(addr);
  for (ftnint i = 0; i < count; ++i, bytes += len) {
    switch (type) {
      case kTypeCharacter:
        put_character(w, bytes, len);
        break;
      case kTypeInteger: {
        std::int32_t v;
        std::memcpy(&v, bytes, sizeof v);
        put_integer(w, v);
        break;
      }
      case kTypeReal: {
        float v;
        std::memcpy(&v, bytes, sizeof v);
        put_real(w, v);
        break;
      }
      default:
        fatal("lio", Failure::message("unknown item type"));
    }
  }
  return 0;
}

int e_wsle() {
  ListWrite& w = list_write();
  w.unit->put_record(w.line.view());
  w.line.clear();
  return 0;
}

int s_rsle(const cilist* c) {
  return start_statement(*c, kListIo, Direction::kReading) == nullptr ? -1 : 0;
}

int e_rsle() {
  // No character of the record is looked at: it is consumed whole, whatever it holds.
  Unit& u = *state().active;
  if (u.end_flag() || !u.skip_record()) {
    u.set_end_flag();
    return -1;
  }
  return 0;
}

}  // namespace recordio
