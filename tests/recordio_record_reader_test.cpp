// The record reader against the full scan: the fields it reads must be exactly those of the
// common shape whose ten columns lie before the record's line end and within the bytes available
// (without vector instructions it reads none), and the scan, reading such a field where it stands,
// must use exactly its ten columns and give the same value bit for bit.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "recordio/input_editing.h"
#include "recordio/record_reader.h"
#include "recordio/simd.h"
#include "support/field_scan.h"

namespace recordio {
namespace {

using Decimals = std::array<int, kRecordFields>;
constexpr Decimals kE10Point4 = {4, 4, 4, 4, 4, 4, 4, 4};

// Where the record's columns end: at its line end (the CR of a CR LF), or where `available` ends.
std::size_t record_end(const std::string& bytes, std::size_t available) {
  std::size_t end = bytes.find('\n');
  if (end == std::string::npos) end = bytes.size();
  if (end > 0 && bytes[end - 1] == '\r') --end;
  return end < available ? end : available;
}

// Whether ten columns have the common shape: blanks, an optional sign, then digits with at most
// one point ("          " and "         -" too).
bool common_shape(std::string_view field) {
  std::size_t at = field.find_first_not_of(' ');
  if (at == std::string_view::npos) return true;
  if (field[at] == '-' || field[at] == '+') ++at;
  const std::string_view rest = field.substr(at);
  return rest.find_first_not_of("0123456789.") == std::string_view::npos &&
         rest.find('.') == rest.rfind('.');
}

// The fields the record reader promises to read in `bytes` with `available` of them the file's.
unsigned fields_to_read(const std::string& bytes, std::size_t available) {
  const std::size_t end = record_end(bytes, available);
  unsigned fields = 0;
  for (std::size_t f = 0; f < kRecordFields && (f + 1) * kFieldWidth <= end; ++f) {
    if (common_shape(std::string_view(bytes).substr(f * kFieldWidth, kFieldWidth))) {
      fields |= 1u << f;
    }
  }
  return fields;
}

// Reads `bytes` (at least kRecordColumns of them, and one more) as a record of which `available`
// bytes are the file's, and checks every field read against the scan. The reader sees memory of
// exactly kRecordColumns bytes, so that the address checker catches a load beyond them. Returns
// the fields read.
unsigned expect_reads_as_the_scan(const std::string& bytes, std::size_t available,
                                  const Decimals& decimals = kE10Point4) {
  EXPECT_GT(bytes.size(), kRecordColumns);
  const auto memory = std::make_unique<char[]>(kRecordColumns);
  std::memcpy(memory.get(), bytes.data(), kRecordColumns);
  DataItem items[kRecordFields] = {};
  for (int f = 0; f < kRecordFields; ++f) {
    items[f].edit = {'E', kFieldWidth, decimals[static_cast<std::size_t>(f)]};
  }
  float values[kRecordFields];
  const unsigned read = read_record(memory.get(), available, items, values);
  EXPECT_EQ(read & ~kAllFields, 0u);
  if (RECORDIO_SIMD) {
    EXPECT_EQ(read, fields_to_read(bytes, available))
        << "fields read, bit f for field f, of \"" << bytes.substr(0, kRecordColumns) << "\" with "
        << available << " bytes available";
  }
  const std::size_t end = record_end(bytes, available);
  for (int f = 0; f < kRecordFields; ++f) {
    if ((read & (1u << f)) == 0) continue;
    const std::size_t at = static_cast<std::size_t>(f) * kFieldWidth;
    SCOPED_TRACE("field " + std::to_string(f) + " \"" + bytes.substr(at, kFieldWidth) +
                 "\" of a record of " + std::to_string(end) + " columns");
    EXPECT_LE(at + kFieldWidth, end) << "read beyond the record's columns";
    const testing_support::FieldScan scan = testing_support::scan_field(
        bytes.data() + at, kFieldWidth, decimals[static_cast<std::size_t>(f)]);
    EXPECT_EQ(scan.status, EditStatus::kOk);
    if (scan.status != EditStatus::kOk) continue;
    EXPECT_EQ(scan.columns, kFieldWidth) << "the scan ends the field early";
    EXPECT_EQ(std::bit_cast<std::uint32_t>(values[f]), scan.bits);
  }
  return read;
}

// A ten-column field of the data records' usual shape, "%10.Nf"-like with N from 0 to 7, with its
// columns now and then swapped for a sign, a blank, a point or another character out of place.
std::string printed_field(std::mt19937_64& rng, int most_strays) {
  static constexpr char kStray[] = " -+.eE,x0\n\r\t\x80";
  char text[32];
  const double magnitude =
      std::ldexp(static_cast<double>(rng() % 10000000000), -static_cast<int>(rng() % 40));
  std::snprintf(text, sizeof text, "%10.*f", static_cast<int>(rng() % 8),
                rng() % 2 ? magnitude : -magnitude);
  std::string field = text;
  if (field.size() != kFieldWidth) field = "   -0.0001";
  for (int k = static_cast<int>(rng() % static_cast<unsigned>(most_strays + 1)); k > 0; --k) {
    field[rng() % kFieldWidth] = kStray[rng() % (sizeof kStray - 1)];
  }
  return field;
}

// Any ten columns: any characters at all, the common characters in any order, or blanks, a sign,
// digits, a point and digits with extremes (no digit, all zeros, ten digits).
std::string any_field(std::mt19937_64& rng) {
  static constexpr char kCommon[] = "0123456789 -+.";
  static constexpr char kAny[] = "0123456789 -+.eEdD,x\t";
  std::string field;
  switch (rng() % 10) {
    case 0:
      for (int k = 0; k < kFieldWidth; ++k) field += kAny[rng() % (sizeof kAny - 1)];
      return field;
    case 1:
      for (int k = 0; k < kFieldWidth; ++k) field += kCommon[rng() % (sizeof kCommon - 1)];
      return field;
    default: {
      const int digits = static_cast<int>(rng() % (kFieldWidth + 1));
      std::string body;
      if (rng() % 3 == 0) body += rng() % 2 ? '-' : '+';
      const int point =
          rng() % 4 == 0 ? -1 : static_cast<int>(rng() % static_cast<unsigned>(digits + 1));
      for (int k = 0; k < digits; ++k) {
        if (k == point) body += '.';
        body += static_cast<char>('0' + (rng() % 5 == 0 ? 0 : rng() % 10));
      }
      if (point == digits) body += '.';
      if (body.size() > kFieldWidth) body.resize(kFieldWidth);
      return std::string(kFieldWidth - body.size(), ' ') + body;
    }
  }
}

// A record written with a fixed number of decimals: every field's point in column `point`, with a
// random sign, random digits (now and then none but zeros) and blanks before them.
std::string field_with_point_at(std::mt19937_64& rng, int point) {
  std::string field(kFieldWidth, ' ');
  field[static_cast<std::size_t>(point)] = '.';
  const bool zeros = rng() % 6 == 0;
  const auto digit = [&] { return zeros ? '0' : static_cast<char>('0' + rng() % 10); };
  for (int c = point + 1; c < kFieldWidth; ++c) field[static_cast<std::size_t>(c)] = digit();
  const int sign = static_cast<int>(rng() % 3);  // none, minus, plus
  const int room = point - (sign != 0 ? 1 : 0);
  const int before = room > 0 ? static_cast<int>(rng() % static_cast<unsigned>(room + 1)) : 0;
  int c = point;
  for (int k = 0; k < before; ++k) field[static_cast<std::size_t>(--c)] = digit();
  if (sign != 0 && c > 0) field[static_cast<std::size_t>(--c)] = sign == 1 ? '-' : '+';
  return field;
}

Decimals random_decimals(std::mt19937_64& rng) {
  Decimals d{};
  for (int& e : d) e = static_cast<int>(rng() % 8);
  return d;
}

// The next record's bytes, which the reader must never take for this record's.
const std::string kNextRecord = "  11.11111  22.22222  33.33333  44.44444\n";

TEST(RecordReader, GeneratedRecordsReadAsTheScanReadsThem) {
  std::mt19937_64 rng(20261210);
  for (int n = 0; n < 40000; ++n) {
    std::string record;
    for (int f = 0; f < kRecordFields; ++f) {
      // Mostly printed fields, now and then one with columns out of place or any columns at all.
      const auto kind = rng() % 24;
      record += kind == 0 ? any_field(rng) : printed_field(rng, kind == 1 ? 3 : 0);
    }
    expect_reads_as_the_scan(record + "\n" + kNextRecord, kRecordColumns + 1 + kNextRecord.size(),
                             random_decimals(rng));
    if (HasFailure()) return;
  }
}

TEST(RecordReader, RecordsWithEveryPointInOneColumnReadAsTheScanReadsThem) {
  std::mt19937_64 rng(20261211);
  int negative_zeros = 0;
  for (int point = 0; point < kFieldWidth; ++point) {
    SCOPED_TRACE(point);
    for (int n = 0; n < 3000; ++n) {
      std::string record;
      for (int f = 0; f < kRecordFields; ++f) {
        const std::string field = field_with_point_at(rng, point);
        negative_zeros += field.find('-') != std::string::npos &&
                          field.find_first_of("123456789") == std::string::npos;
        record += field;
      }
      expect_reads_as_the_scan(record + "\n", kRecordColumns + 1, random_decimals(rng));
      if (HasFailure()) return;
    }
  }
  EXPECT_GT(negative_zeros, 1000) << "a minus on a zero reads as +0";
}

// Each shape in one field of a record of common fields, in every position.
TEST(RecordReader, FieldsOfEveryShapeReadAsTheScanReadsThem) {
  const char* const shapes[] = {
      "   -2.2377",    " 1234.5678",  "  12.34567", "-123.45678", "12345.6789",   "1234567890",
      "       150",    "    +.0001",  "     .1234", "       12.", "-.12345678",   "   -0.0000",
      "          ",    "         -",  "         .", "       -. ", "     .-123",   "  - 1.2345",
      "  +-1.2345",    "   1.2.345",  "  1.3.4567", "   1.2E+04", "    1.5-02",   "   1.2 345",
      "    1.234 ",    "  1 2 3   ",  "  1.5,2.5 ", "  1-.34567", "   12\r\n   ", "  1.2345\r\n",
      "   1.2\260456", "\t    1.234", "0000000001", "   1.5D+01",
  };
  for (const char* shape : shapes) {
    for (int at = 0; at < kRecordFields; ++at) {
      SCOPED_TRACE("\"" + std::string(shape) + "\" in field " + std::to_string(at));
      std::string record;
      for (int f = 0; f < kRecordFields; ++f) record += f == at ? shape : "  12.34567";
      ASSERT_EQ(record.size(), kRecordColumns);
      expect_reads_as_the_scan(record + "\n", kRecordColumns + 1, {4, 4, 4, 4, 2, 4, 4, 4});
    }
  }
}

// A record ends at its line end, or where the file's bytes end; what lies after is not its own.
TEST(RecordReader, ReadsNoFieldPastTheLineEndOrTheBytesAvailable) {
  const std::string full =
      "  12.34567  -1.00000       150  12.34567  99.99999   0.00001"
      "  -0.50000  12.34567";
  ASSERT_EQ(full.size(), kRecordColumns);
  for (const char* line_end : {"\n", "\r\n"}) {
    for (std::size_t length = 0; length <= kRecordColumns; ++length) {
      SCOPED_TRACE(std::to_string(length) + " columns, then " +
                   (line_end[0] == '\n' ? "LF" : "CR LF"));
      // A short record followed by the next one, and the same bytes with the file ending there.
      const std::string record = full.substr(0, length) + line_end + kNextRecord + kNextRecord;
      expect_reads_as_the_scan(record, record.size());
      expect_reads_as_the_scan(record, length);
    }
  }
  // Blank records: a blank line, and a record of blanks up to a line end inside the last field.
  expect_reads_as_the_scan("\n" + kNextRecord + kNextRecord, 1 + 2 * kNextRecord.size());
  expect_reads_as_the_scan(std::string(75, ' ') + "\n" + kNextRecord + kNextRecord, 200);
}

}  // namespace
}  // namespace recordio
