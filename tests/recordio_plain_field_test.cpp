// The one-pass reader of the common numeric field must give exactly what the full scan gives,
// whatever the field holds and however many bytes follow it in memory.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
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

}  // namespace
}  // namespace recordio
