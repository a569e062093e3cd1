// The one-pass reader of the common numeric field must give exactly what the full scan gives,
// whatever the field holds and however many bytes follow it in memory.
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

#include "recordio/input_editing.h"

namespace recordio {
namespace {

struct ScanResult {
  EditStatus status;
  std::uint32_t bits;
};

// The full scan over the field, with a line end after it so that it never runs dry.
ScanResult full_scan(const std::string& field, int w, int d) {
  const std::string bytes = field + "\n";
  MemoryCursor cursor{bytes.data()};
  char digits[Format::kMaxNumericWidth];
  DecimalNumber number;
  const EditStatus status = scan_number(cursor, w, d, digits, number);
  return {status, std::bit_cast<std::uint32_t>(decimal_to_float(number))};
}

std::string random_field(std::mt19937_64& rng, int w) {
  static constexpr char kPlain[] = "0123456789 -+.";
  static constexpr char kAny[] = "0123456789 -+.eEdD,x\t";
  std::uniform_int_distribution<int> shape(0, 9);
  std::string field;
  switch (shape(rng)) {
    case 0:  // any characters at all
      for (int k = 0; k < w; ++k) field += kAny[rng() % (sizeof kAny - 1)];
      return field;
    case 1:  // plain characters in any order
      for (int k = 0; k < w; ++k) field += kPlain[rng() % (sizeof kPlain - 1)];
      return field;
    default: {  // blanks, a sign, digits, a point, digits: the common shape, with extremes
      const int digits = static_cast<int>(rng() % static_cast<unsigned>(w + 1));
      std::string body;
      if (rng() % 3 == 0) body += rng() % 2 ? '-' : '+';
      const int point =
          rng() % 4 == 0 ? -1 : static_cast<int>(rng() % static_cast<unsigned>(digits + 1));
      for (int k = 0; k < digits; ++k) {
        if (k == point) body += '.';
        body += static_cast<char>('0' + (rng() % 5 == 0 ? 0 : rng() % 10));
      }
      if (point == digits) body += '.';
      if (body.size() > static_cast<std::size_t>(w)) body.resize(static_cast<std::size_t>(w));
      return std::string(static_cast<std::size_t>(w) - body.size(), ' ') + body;
    }
  }
}

TEST(PlainField, AgreesWithTheFullScanWheneverItReadsAField) {
  std::mt19937_64 rng(20261208);
  int accepted = 0;
  constexpr int kFields = 200000;
  for (int n = 0; n < kFields; ++n) {
    const int w = 1 + static_cast<int>(rng() % 24);
    const int d = static_cast<int>(rng() % 8);
    const std::string field = random_field(rng, w);
    // Whatever follows the field in memory, from nothing to more than a word.
    const std::string after(rng() % 12, rng() % 2 ? '7' : ' ');
    const std::string memory = field + after;
    DecimalNumber number;
    if (!parse_plain_field(memory.data(), memory.size(), w, d, number)) continue;
    const float value = decimal_to_float(number);
    ++accepted;
    const ScanResult expected = full_scan(field, w, d);
    ASSERT_EQ(expected.status, EditStatus::kOk) << '"' << field << "\" w=" << w;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(value), expected.bits)
        << '"' << field << "\" w=" << w << " d=" << d;
  }
  // The common shape dominates the table, so most fields take the one-pass path.
  EXPECT_GT(accepted, kFields / 2);
}

TEST(PlainField, LeavesEveryOtherFieldToTheFullScan) {
  const char* const others[] = {
      "          ",              // all blank
      "    1.5E+2",              // exponent
      "    1.5-02",              // exponent by a bare sign
      "  1 2 3   ",              // blanks inside
      "  - 12.5  ",              // blank after the sign
      "  1.5,2.5 ",              // comma
      "  1.2.3   ",              // second point
      "   12\n    ",             // line end inside
      "   12\r\n   ",            // CR LF inside
      "         -",              // sign only
      "         .",              // point only
      "12345678901234567890",    // more digits than the parsed number holds as an integer
      "0000000000000000000001",  // leading zeros count as digits here
  };
  for (const char* text : others) {
    const std::string memory = std::string(text) + "        ";
    DecimalNumber number;
    number.mantissa = 42;
    const int w = static_cast<int>(std::string(text).size());
    EXPECT_FALSE(parse_plain_field(memory.data(), memory.size(), w, 4, number))
        << '"' << text << '"';
    EXPECT_EQ(number.mantissa, 42u) << "stored nothing for \"" << text << '"';
  }
}

// A ten-column field of the data records' usual shape, "%10.Nf"-like with N from 0 to 7, with its
// columns now and then swapped for a sign, a blank, a point or a letter in the wrong place.
std::string ten_column_field(std::mt19937_64& rng, int most_strays = 2) {
  static constexpr char kStray[] = " -+.eE,x0\n\x80";
  char text[32];
  const double magnitude =
      std::ldexp(static_cast<double>(rng() % 10000000000), -static_cast<int>(rng() % 40));
  std::snprintf(text, sizeof text, "%10.*f", static_cast<int>(rng() % 8),
                rng() % 2 ? magnitude : -magnitude);
  std::string field = text;
  if (field.size() != 10) field = "   -0.0001";
  for (int k = static_cast<int>(rng() % static_cast<unsigned>(most_strays + 1)); k > 0; --k) {
    field[rng() % 10] = kStray[rng() % (sizeof kStray - 1)];
  }
  return field;
}

// The field with the window's other six bytes after it: digits, blanks or a line end, which
// must not change what the field reads as.
std::string in_window(const std::string& field, std::mt19937_64& rng) {
  static constexpr const char* kAfter[] = {"      ", "123456", "\n 12.3", "\r\n-1.0", "......"};
  return field + kAfter[rng() % 5];
}

TEST(TenColumnField, AgreesWithTheFullScanWheneverItReadsAField) {
  std::mt19937_64 rng(20261209);
  int accepted = 0;
  constexpr int kFields = 300000;
  for (int n = 0; n < kFields; ++n) {
    const std::string field = ten_column_field(rng);
    const std::string window = in_window(field, rng);
    const int d = static_cast<int>(rng() % 8);
    float value;
    if (!parse_ten_columns(window.data(), d, value)) continue;
    ++accepted;
    const ScanResult expected = full_scan(field, 10, d);
    ASSERT_EQ(expected.status, EditStatus::kOk) << '"' << field << '"';
    ASSERT_EQ(std::bit_cast<std::uint32_t>(value), expected.bits) << '"' << field << "\" d=" << d;
  }
  EXPECT_GT(accepted, kFields / 4);
}

TEST(TenColumnField, ReadsItsShapeAndLeavesEveryOtherField) {
  struct Case {
    const char* field;
    int d;
    bool read;
    float value;
  };
  const Case cases[] = {
      {"   -2.2377", 4, true, -2.2377f},
      {" 1234.5678", 4, true, 1234.5678f},
      {"  12.34567", 4, true, 12.34567f},
      {"-123.45678", 4, true, -123.45678f},  // column 1 holds the sign
      {"12345.6789", 4, true, 12345.6789f},  // column 1 holds a digit
      {"1234567890", 4, true, 123456.789f},  // ten digits, no point: d places them
      {"       150", 2, true, 1.5f},
      {"       150", 0, true, 150.0f},
      {"    +.0001", 4, true, 0.0001f},
      {"     .1234", 4, true, 0.1234f},
      {"       12.", 4, true, 12.0f},
      {"-.12345678", 4, true, -0.12345678f},
      {"   -0.0000", 4, true, 0.0f},  // no significant digit: a positive zero
      {"          ", 4, true, 0.0f},  // all blank: zero
      {"         -", 4, true, 0.0f},  // a sign only: zero
      {"         .", 4, true, 0.0f},  // a point only: zero
      {"       -. ", 4, false, 0},    // a blank after the point
      {"     .-123", 4, false, 0},    // a sign after the point is an exponent's
      {"  - 1.2345", 4, false, 0},    // a blank after the sign
      {"  +-1.2345", 4, false, 0},    // two signs
      {"   1.2.345", 4, false, 0},    // two points
      {"   1.2E+04", 4, false, 0},    // an exponent
      {"   1.2 345", 4, false, 0},    // a blank among the decimals
      {"    1.234 ", 4, false, 0},    // a trailing blank
      {"    1.23\n ", 4, false, 0},   // a line end inside the field
      {"   1.2\xb0"
       "45",
       4, false, 0},  // a byte above 0x7F
  };
  for (const Case& c : cases) {
    const std::string window = std::string(c.field) + "999999";
    float value = 42.0f;
    EXPECT_EQ(parse_ten_columns(window.data(), c.d, value), c.read) << '"' << c.field << '"';
    if (c.read) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(value), std::bit_cast<std::uint32_t>(c.value))
          << '"' << c.field << '"';
      EXPECT_EQ(std::bit_cast<std::uint32_t>(value), full_scan(c.field, 10, c.d).bits);
    } else {
      EXPECT_EQ(value, 42.0f) << "stored nothing for \"" << c.field << '"';
    }
  }
}

// ---- A data record's eight common fields, read together

struct RecordRead {
  bool read;
  std::array<std::uint32_t, kRecordFields> bits;
};

// The eighty columns in memory of exactly that size, so that the address checker catches a read
// beyond them; d of each field from `decimals`.
RecordRead read_record(const std::string& record, const std::array<int, kRecordFields>& decimals) {
  const auto memory = std::make_unique<char[]>(kRecordColumns);
  std::memcpy(memory.get(), record.data(), kRecordColumns);
  DataItem items[kRecordFields + 1] = {};
  for (int f = 0; f < kRecordFields; ++f) items[f] = {{'E', 10, decimals[f]}, 0, 0, true, 0, 0};
  float values[kRecordFields];
  RecordRead r{parse_record_fields(memory.get(), items, values), {}};
  for (int f = 0; f < kRecordFields; ++f) r.bits[f] = std::bit_cast<std::uint32_t>(values[f]);
  return r;
}

// The same record field by field, as the ten-column reader reads each.
RecordRead read_each_field(const std::string& record,
                           const std::array<int, kRecordFields>& decimals) {
  const std::string memory = record + "      ";
  RecordRead r{true, {}};
  for (int f = 0; f < kRecordFields; ++f) {
    float value = 0;
    r.read = parse_ten_columns(memory.data() + f * kCommonWidth, decimals[f], value) && r.read;
    r.bits[f] = std::bit_cast<std::uint32_t>(value);
  }
  return r;
}

// The record is read whenever each of its fields reads in one pass on its own (and may be read
// besides, as with an all-blank field that the one-pass reader leaves, when only blanks follow
// it), and then each value is the full scan's.
void expect_reads_like_the_fields(const std::string& record,
                                  const std::array<int, kRecordFields>& decimals) {
  const RecordRead together = read_record(record, decimals);
  if (read_each_field(record, decimals).read) {
    ASSERT_TRUE(together.read) << '"' << record << '"';
  }
  if (!together.read) return;
  for (int f = 0; f < kRecordFields; ++f) {
    const std::string field =
        record.substr(static_cast<std::size_t>(f * kCommonWidth), kCommonWidth);
    const ScanResult expected =
        full_scan(field, kCommonWidth, decimals[static_cast<std::size_t>(f)]);
    ASSERT_EQ(expected.status, EditStatus::kOk) << '"' << field << '"';
    ASSERT_EQ(together.bits[static_cast<std::size_t>(f)], expected.bits) << '"' << field << '"';
  }
}

TEST(RecordFields, ReadsARecordWheneverEveryFieldReadsInOnePass) {
  std::mt19937_64 rng(20261210);
  int read = 0;
  constexpr int kRecords = 40000;
  for (int n = 0; n < kRecords; ++n) {
    std::string record;
    std::array<int, kRecordFields> decimals{};
    for (int f = 0; f < kRecordFields; ++f) {
      // Now and then a field with columns out of place.
      record += ten_column_field(rng, rng() % 24 == 0 ? 2 : 0);
      decimals[static_cast<std::size_t>(f)] = static_cast<int>(rng() % 8);
    }
    expect_reads_like_the_fields(record, decimals);
    if (HasFatalFailure()) return;
    read += read_record(record, decimals).read ? 1 : 0;
  }
  EXPECT_GT(read, kRecords / 2);
  EXPECT_LT(read, kRecords) << "some records have a field of another shape";
}

// A record written with a fixed number of decimals: every field's point in column `point`, with
// a random sign, random digits (now and then none but zeros) and blanks before them.
std::string field_with_point_at(std::mt19937_64& rng, int point) {
  std::string field(kCommonWidth, ' ');
  field[static_cast<std::size_t>(point)] = '.';
  const bool zeros = rng() % 6 == 0;
  const auto digit = [&] { return zeros ? '0' : static_cast<char>('0' + rng() % 10); };
  for (int c = point + 1; c < kCommonWidth; ++c) field[static_cast<std::size_t>(c)] = digit();
  const int sign = static_cast<int>(rng() % 3);  // none, minus, plus
  const int room = point - (sign != 0 ? 1 : 0);
  const int before = room > 0 ? static_cast<int>(rng() % static_cast<unsigned>(room + 1)) : 0;
  int c = point;
  for (int k = 0; k < before; ++k) field[static_cast<std::size_t>(--c)] = digit();
  if (sign != 0 && c > 0) field[static_cast<std::size_t>(--c)] = sign == 1 ? '-' : '+';
  return field;
}

TEST(RecordFields, ReadsARecordWithEveryPointInOneColumnAsItsFields) {
  std::mt19937_64 rng(20261211);
  int negative_zeros = 0;
  for (int point = 0; point < kCommonWidth; ++point) {
    SCOPED_TRACE(point);
    for (int n = 0; n < 3000; ++n) {
      std::string record;
      std::array<int, kRecordFields> decimals{};
      for (int f = 0; f < kRecordFields; ++f) {
        const std::string field = field_with_point_at(rng, point);
        negative_zeros += field.find('-') != std::string::npos &&
                          field.find_first_of("123456789") == std::string::npos;
        record += field;
        decimals[static_cast<std::size_t>(f)] = static_cast<int>(rng() % 8);
      }
      ASSERT_TRUE(read_record(record, decimals).read) << '"' << record << '"';
      expect_reads_like_the_fields(record, decimals);
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(negative_zeros, 1000) << "a minus on a zero reads as +0";
}

TEST(RecordFields, ARecordWithAnyOtherFieldIsLeftToTheFieldReads) {
  struct Case {
    const char* what;
    int field;
    const char* text;
    bool read;
  };
  const Case cases[] = {
      {"the common record", 0, "  12.34567", true},
      {"a sign at a field's start, after digits", 3, "-123.45678", true},
      {"a plus sign", 2, "  +2.34567", true},
      {"a digit at a field's start, after digits", 1, "1234.56789", true},
      {"no point: d places the digits", 5, "1234567890", true},
      {"all blank", 7, "          ", true},
      {"a sign alone", 4, "         -", true},
      {"the point a column out of line in the first field", 0, "  123.4567", true},
      {"the point a column out of line in the last field", 7, "  123.4567", true},
      {"no point in one field", 6, "   1234567", true},
      {"two points in the field that spans the masks' words", 6, "  1.3.4567", false},
      {"two points in the last field", 7, "  1.3.4567", false},
      {"a trailing blank", 0, " 12.34567 ", false},
      {"a sign after a digit", 4, "  1-.34567", false},
      {"a sign after a sign", 2, " +-2.34567", false},
      {"a blank after a sign", 5, " - 2.34567", false},
      {"an exponent", 3, "  1.2345E1", false},
      {"a line end", 7, "  1.23456\n", false},
      {"a carriage return", 1, "  1.2345\r\n", false},
      {"a byte above 0x7F", 6,
       "  1.2345\xb0"
       "6",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string record;
    for (int f = 0; f < kRecordFields; ++f) record += f == c.field ? c.text : "  12.34567";
    ASSERT_EQ(record.size(), kRecordColumns);
    const std::array<int, kRecordFields> decimals = {4, 4, 4, 4, 2, 4, 4, 4};
    EXPECT_EQ(read_record(record, decimals).read, c.read);
    expect_reads_like_the_fields(record, decimals);
  }
}

}  // namespace
}  // namespace recordio
