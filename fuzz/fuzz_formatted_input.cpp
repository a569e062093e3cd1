// Arbitrary bytes as the records of a formatted READ: every record read by "(8E10.4)" (eight
// E10.4 fields) and by "(a80)", then by an Ew.d and an Aw whose sizes come from the first bytes;
// and every record by the record reader, which reads a data record's common fields together.
// Each field the editors read must agree with the slow references in reference.h: the same
// outcome (value, end of file, editing error), the same value bit for bit, the same position
// after the field.
//
// Every field is read three ways: character by character, and from a source that also hands out
// the bytes it holds in memory (the way a unit's buffer does), once with the whole rest of the
// input in memory and once in small pieces, so that a field can begin near the end of a piece.
// The sources (support/string_source.h) note when an editor uses up a line end or the end of the
// file, which is a fault.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "recordio/input_editing.h"
#include "recordio/record_reader.h"
#include "reference.h"
#include "support/string_source.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

static_assert(fuzzref::kEof == recordio::kEndOfFile && fuzzref::kLineEnd == recordio::kLineEnd);

using testing_support::BufferedStringSource;
using testing_support::StringSource;

fuzzref::Outcome outcome_of(recordio::EditStatus s) {
  switch (s) {
    case recordio::EditStatus::kOk:
      return fuzzref::Outcome::kValue;
    case recordio::EditStatus::kEndOfFile:
      return fuzzref::Outcome::kEndOfFile;
    case recordio::EditStatus::kUnexpected:
      break;
  }
  return fuzzref::Outcome::kError;
}

const char* name_of(fuzzref::Outcome o) {
  switch (o) {
    case fuzzref::Outcome::kValue:
      return "value";
    case fuzzref::Outcome::kEndOfFile:
      return "end of file";
    case fuzzref::Outcome::kError:
      break;
  }
  return "editing error";
}

std::uint32_t bits_of(float v) {
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

[[noreturn]] void disagree(const char* what, std::size_t at, const std::string& detail) {
  std::fprintf(stderr, "%s: field at byte %zu: %s\n", what, at, detail.c_str());
  __builtin_trap();
}

// Reads the record that begins at `pos` as `fields` Ew.d fields. Returns where the next record
// begins, or npos when the file ended (or the READ would have stopped the run).
template <class Source>
std::size_t check_real_record(const fuzzref::Text& text, Source& in, std::size_t pos, int fields,
                              int w, int d) {
  for (int k = 0; k < fields; ++k) {
    const fuzzref::RealField want = fuzzref::read_e(text, pos, w, d);
    in.seek(pos);
    float got = -1.0f;
    const fuzzref::Outcome outcome = outcome_of(recordio::read_real(in, w, d, got));
    if (in.misused()) disagree("E source", pos, "an ordinary character was expected");
    if (outcome != want.outcome) {
      disagree("E outcome", pos,
               std::string("read_real: ") + name_of(outcome) + ", reference: " +
                   name_of(want.outcome) + ", E" + std::to_string(w) + "." + std::to_string(d));
    }
    if (outcome == fuzzref::Outcome::kEndOfFile) return fuzzref::Text::npos;
    if (outcome == fuzzref::Outcome::kError)
      break;  // fatal for the run; go on with the next record
    if (bits_of(got) != bits_of(want.value)) {
      char detail[160];
      std::snprintf(detail, sizeof detail, "read_real %a (%08x), reference %a (%08x), E%d.%d",
                    static_cast<double>(got), bits_of(got), static_cast<double>(want.value),
                    bits_of(want.value), w, d);
      disagree("E value", pos, detail);
    }
    if (in.pos() != want.next) {
      disagree("E position", pos,
               "read_real ends at " + std::to_string(in.pos()) + ", reference at " +
                   std::to_string(want.next));
    }
    pos = want.next;
  }
  return text.after_line_end(pos);
}

template <class Source>
std::size_t check_text_record(const fuzzref::Text& text, Source& in, std::size_t pos, std::size_t n,
                              std::size_t w) {
  const fuzzref::TextField want = fuzzref::read_a(text, pos, n, w);
  in.seek(pos);
  // The item sits between guard bytes, so that a store outside it shows.
  std::string item(n + 16, '\x01');
  const fuzzref::Outcome outcome = outcome_of(recordio::read_characters(in, item.data() + 8, n, w));
  if (in.misused()) disagree("A source", pos, "an ordinary character was expected");
  if (outcome != want.outcome) {
    disagree("A outcome", pos,
             std::string("read_characters: ") + name_of(outcome) +
                 ", reference: " + name_of(want.outcome));
  }
  if (outcome == fuzzref::Outcome::kEndOfFile) return fuzzref::Text::npos;
  if (item.compare(0, 8, std::string(8, '\x01')) != 0 ||
      item.compare(n + 8, 8, std::string(8, '\x01')) != 0) {
    disagree("A bounds", pos, "stored outside the item");
  }
  if (item.compare(8, n, want.item) != 0) {
    disagree("A text", pos, "item \"" + item.substr(8, n) + "\", reference \"" + want.item + "\"");
  }
  if (in.pos() != want.next) {
    disagree("A position", pos,
             "read_characters ends at " + std::to_string(in.pos()) + ", reference at " +
                 std::to_string(want.next));
  }
  return text.after_line_end(want.next);
}

template <class Source>
void check_records_with(const fuzzref::Text& text, Source& in, int fields, int w, int d,
                        std::size_t n, std::size_t a_width) {
  for (std::size_t pos = 0; pos != fuzzref::Text::npos;) {
    pos = check_real_record(text, in, pos, fields, w, d);
  }
  for (std::size_t pos = 0; pos != fuzzref::Text::npos;) {
    pos = check_text_record(text, in, pos, n, a_width);
  }
}

// The record reader on the record at `pos`, copied to memory of exactly eighty columns (the bytes
// of the file there, then zeros): every field it reads lies whole before the record's line end and
// within the file, and the reference reads the same value from the same ten columns.
void check_record_at(const fuzzref::Text& text, const unsigned char* bytes, std::size_t size,
                     std::size_t pos, const recordio::DataItem* items) {
  const std::size_t available = size - pos;
  const std::unique_ptr<char[]> record(new char[recordio::kRecordColumns]());
  std::memcpy(record.get(), bytes + pos, std::min(available, recordio::kRecordColumns));
  float got[recordio::kRecordFields];
  const unsigned read = recordio::read_record(record.get(), available, items, got);
  // The record's columns: up to its line end, or the end of the file.
  std::size_t end = pos;
  while (end < size && text.at(end) != fuzzref::kLineEnd) ++end;
  for (int f = 0; f < recordio::kRecordFields; ++f) {
    if ((read & (1u << f)) == 0) continue;
    const std::size_t at = pos + static_cast<std::size_t>(f) * recordio::kFieldWidth;
    if (at + recordio::kFieldWidth > end) {
      disagree("record fields", at, "field " + std::to_string(f) + " read beyond the record");
    }
    const fuzzref::RealField want =
        fuzzref::read_e(text, at, recordio::kFieldWidth, items[f].edit.decimals);
    if (want.outcome != fuzzref::Outcome::kValue || bits_of(got[f]) != bits_of(want.value) ||
        want.next != at + recordio::kFieldWidth) {
      char detail[160];
      std::snprintf(detail, sizeof detail, "field %d: %a (%08x), reference %s %a (%08x)", f,
                    static_cast<double>(got[f]), bits_of(got[f]), name_of(want.outcome),
                    static_cast<double>(want.value), bits_of(want.value));
      disagree("record fields", at, detail);
    }
  }
}

// A record as a writer with a fixed number of decimals makes it, shaped by the input: every
// field's point in one column, each field with blanks, a sign or none, digits and its point.
std::string aligned_record(const unsigned char* bytes, std::size_t size) {
  std::size_t next = 0;
  const auto take = [&] { return next < size ? bytes[next++] : 0; };
  const int point = take() % recordio::kFieldWidth;
  std::string record;
  for (int f = 0; f < recordio::kRecordFields; ++f) {
    std::string field(recordio::kFieldWidth, ' ');
    field[static_cast<std::size_t>(point)] = '.';
    const unsigned shape = take();
    const unsigned sign = shape / 16 % 3;
    const int room = point - (sign != 0 ? 1 : 0);
    int c = point;
    for (int k = room > 0 ? static_cast<int>(shape % 16) % (room + 1) : 0; k > 0; --k) {
      field[static_cast<std::size_t>(--c)] = static_cast<char>('0' + take() % 10);
    }
    if (sign != 0 && c > 0) field[static_cast<std::size_t>(--c)] = sign == 1 ? '-' : '+';
    for (int k = point + 1; k < recordio::kFieldWidth; ++k) {
      field[static_cast<std::size_t>(k)] = static_cast<char>('0' + take() % 10);
    }
    record += field;
  }
  return record;
}

// The record reader at every record, and at a record with every point in one column made from the
// input.
void check_record_fields(const fuzzref::Text& text, const unsigned char* bytes, std::size_t size) {
  recordio::DataItem items[recordio::kRecordFields] = {};
  for (int f = 0; f < recordio::kRecordFields; ++f) {
    items[f].edit = {'E', recordio::kFieldWidth, static_cast<int>((size + f) % 8)};
  }
  for (std::size_t pos = 0; pos != fuzzref::Text::npos && pos < size;
       pos = text.after_line_end(pos)) {
    check_record_at(text, bytes, size, pos, items);
  }
  const std::string aligned = aligned_record(bytes, size);
  const auto* aligned_bytes = reinterpret_cast<const unsigned char*>(aligned.data());
  check_record_at(fuzzref::Text(aligned_bytes, aligned.size()), aligned_bytes, aligned.size(), 0,
                  items);
}

void check_records(const unsigned char* bytes, std::size_t size, int fields, int w, int d,
                   std::size_t n, std::size_t a_width) {
  const fuzzref::Text text(bytes, size);
  const std::string_view view(reinterpret_cast<const char*>(bytes), size);
  StringSource plain(view);
  check_records_with(text, plain, fields, w, d, n, a_width);
  BufferedStringSource whole(view, BufferedStringSource::Cut::kWhole);
  check_records_with(text, whole, fields, w, d, n, a_width);
  // Pieces of 1 to 64 bytes, their size taken from the input's.
  BufferedStringSource pieces(view, BufferedStringSource::Cut::kPieces, 1 + size % 64);
  check_records_with(text, pieces, fields, w, d, n, a_width);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  // A copy of exactly the input's size: a read past its end is caught by the address checker.
  const std::unique_ptr<unsigned char[]> bytes(new unsigned char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(bytes.get(), data, size);

  // The data records and header lines of a component file.
  check_records(bytes.get(), size, 8, 10, 4, 80, 80);
  check_record_fields(fuzzref::Text(bytes.get(), size), bytes.get(), size);

  // Other sizes: Ew.d with w 1..256 (the widest numeric field a format allows) and d 0..255, Aw
  // into an item of 1..128 characters with w 1..160; the records follow the four size bytes.
  if (size >= 4) {
    const int w = 1 + bytes[0];
    const int d = bytes[1];
    const std::size_t n = 1 + bytes[2] % 128;
    const std::size_t a_width = 1 + bytes[3] % 160;
    std::unique_ptr<unsigned char[]> rest(new unsigned char[size - 4 == 0 ? 1 : size - 4]);
    if (size > 4) std::memcpy(rest.get(), bytes.get() + 4, size - 4);
    check_records(rest.get(), size - 4, 3, w, d, n, a_width);
  }
  return 0;
}
