// Formatted input editing: Ew.d (and Fw.d) fields into single-precision values, Aw fields into
// text items, read from a record held in a string.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "recordio/input_editing.h"
#include "support/generator.h"
#include "support/string_source.h"

namespace recordio {
namespace {

using testing_support::BufferedStringSource;
using testing_support::StringSource;
using Cut = BufferedStringSource::Cut;

// The ways a field reaches the editor: character by character, or from a buffer that holds the
// rest of the record, exactly the field and one byte more, or only a few bytes.
enum class Feed { kCharacters, kWholeBuffer, kFieldBuffer, kShortBuffer };
constexpr Feed kFeeds[] = {Feed::kCharacters, Feed::kWholeBuffer, Feed::kFieldBuffer,
                           Feed::kShortBuffer};

const char* feed_name(Feed f) {
  switch (f) {
    case Feed::kCharacters:
      return "characters";
    case Feed::kWholeBuffer:
      return "whole buffer";
    case Feed::kFieldBuffer:
      return "field buffer";
    case Feed::kShortBuffer:
      return "short buffer";
  }
  return "?";
}

std::uint32_t bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}

// The stored value for a decimal text: converted to double precision by the standard library,
// then rounded to single precision.
std::uint32_t stored_bits(const char* decimal) {
  return bits(static_cast<float>(std::strtod(decimal, nullptr)));
}

const char* status_name(EditStatus s) {
  switch (s) {
    case EditStatus::kOk:
      return "ok";
    case EditStatus::kEndOfFile:
      return "end of file";
    case EditStatus::kUnexpected:
      return "unexpected character";
  }
  return "?";
}

std::string shown(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A value no field produces, to see whether an item was left untouched.
constexpr std::uint32_t kUntouched = 0x7fc0beefu;

struct RealResult {
  EditStatus status;
  std::uint32_t bits;
  std::size_t consumed;
  bool misused;
};

// Reads one Ew.d field from the start of `input`, fed one way; the item starts out as kUntouched.
RealResult read_field(Feed feed, std::string_view input, int w, int d) {
  float value = std::bit_cast<float>(kUntouched);
  if (feed == Feed::kCharacters) {
    StringSource in(input);
    const EditStatus status = read_real(in, w, d, value);
    return {status, bits(value), in.pos(), in.misused()};
  }
  BufferedStringSource in =
      feed == Feed::kWholeBuffer ? BufferedStringSource(input, Cut::kWhole)
      : feed == Feed::kFieldBuffer
          ? BufferedStringSource(input, Cut::kWindow, static_cast<std::size_t>(w) + 1)
          : BufferedStringSource(input, Cut::kWindow, 3);
  const EditStatus status = read_real(in, w, d, value);
  return {status, bits(value), in.pos(), in.misused()};
}

// --- E editing, one field at a time

constexpr int kAny = -1;  // consumed count not checked (editing errors stop the run)

struct RealCase {
  int w;
  int d;
  std::string_view input;
  const char* value;  // decimal text of the stored value; nullptr: item untouched or not checked
  EditStatus status;
  int consumed;
};

void check_real_cases(const std::vector<RealCase>& cases) {
  for (const RealCase& c : cases) {
    for (const Feed feed : kFeeds) {
      SCOPED_TRACE("E" + std::to_string(c.w) + "." + std::to_string(c.d) + " on " + shown(c.input) +
                   ", fed as " + feed_name(feed));
      const RealResult r = read_field(feed, c.input, c.w, c.d);
      EXPECT_EQ(status_name(r.status), std::string(status_name(c.status)));
      EXPECT_FALSE(r.misused) << "took or skipped a line end, or went past the end";
      if (c.consumed != kAny) {
        EXPECT_EQ(r.consumed, static_cast<std::size_t>(c.consumed));
      }
      if (c.value != nullptr) {
        EXPECT_EQ(r.bits, stored_bits(c.value))
            << "expected " << c.value << ", got " << std::bit_cast<float>(r.bits);
      } else if (c.status == EditStatus::kEndOfFile) {
        EXPECT_EQ(r.bits, kUntouched) << "the item must stay untouched at end of file";
      }
    }
  }
}

constexpr EditStatus kOk = EditStatus::kOk;
constexpr EditStatus kEof = EditStatus::kEndOfFile;
constexpr EditStatus kBad = EditStatus::kUnexpected;

TEST(RealEditing, ImpliedDecimalsExplicitPointsAndSigns) {
  check_real_cases({
      // Without a point the last d digits are the fraction.
      {10, 4, "     12345", "1.2345", kOk, 10},
      {10, 4, "        -3", "-0.0003", kOk, 10},
      {10, 4, "        +3", "0.0003", kOk, 10},
      {10, 4, "1000000000", "100000", kOk, 10},
      {10, 4, "0000012345", "1.2345", kOk, 10},
      {10, 4, "-000000001", "-0.0001", kOk, 10},
      {5, 2, "12345", "123.45", kOk, 5},
      {10, 0, "     12345", "12345", kOk, 10},
      {10, 9, "         5", "5e-9", kOk, 10},
      {1, 0, "7", "7", kOk, 1},
      // An explicit point overrides d.
      {10, 4, "       1.5", "1.5", kOk, 10},
      {10, 4, "     -1.25", "-1.25", kOk, 10},
      {10, 4, "1234567.89", "1234567.89", kOk, 10},
      {10, 4, "   0.00012", "0.00012", kOk, 10},
      {10, 4, ".000500000", "0.0005", kOk, 10},
      {10, 4, "       1.0", "1", kOk, 10},
      {10, 0, "      -.5 ", "-0.5", kOk, 10},
      {10, 4, "12345.\n", "12345", kOk, 6},
      {10, 4, "       +4.", "4", kOk, 10},
      // Blanks are ignored anywhere among the digits.
      {10, 4, "    1 2 3 ", "0.0123", kOk, 10},
      {10, 4, "1 2 3     ", "0.0123", kOk, 10},
      {10, 4, "  -  1.5  ", "-1.5", kOk, 10},
      {10, 4, "     1.5 3", "1.53", kOk, 10},
      {10, 4, "    1 .  5", "1.5", kOk, 10},
      {10, 4, "1 0 0 0 0 ", "1", kOk, 10},
      // The field ends after w columns, whatever follows.
      {10, 4, "123456789012", "123456.789", kOk, 10},
      {3, 4, "12345\n", "0.0123", kOk, 3},
      {10, 4, "    1.5E+1X", "15", kOk, 10},
      {10, 4, "         7-", "0.0007", kOk, 10},
  });
}

TEST(RealEditing, ExponentForms) {
  check_real_cases({
      {10, 4, "   12345E2", "123.45", kOk, 10},
      {10, 4, "     1.5-3", "0.0015", kOk, 10},
      {10, 4, "     1.5+3", "1500", kOk, 10},
      {10, 4, "   1.5e+01", "15", kOk, 10},
      {10, 4, "   1.5D+01", "15", kOk, 10},
      {10, 4, "   1.5d+01", "15", kOk, 10},
      {10, 4, "     1.5E1", "15", kOk, 10},
      {10, 4, "    1.5E-1", "0.15", kOk, 10},
      {10, 4, "   1.5d-01", "0.15", kOk, 10},
      {10, 4, "    1.5E 1", "15", kOk, 10},
      {10, 4, "   1.5E -1", "0.15", kOk, 10},
      {10, 4, "  1.5E  +1", "15", kOk, 10},
      {10, 4, "  1E 1 2  ", "1e8", kOk, 10},  // blanks among the exponent digits
      {10, 4, "       1E1", "0.001", kOk, 10},
      {10, 4, "     15E-1", "0.00015", kOk, 10},
      {10, 4, "      25e1", "0.025", kOk, 10},
      {10, 4, "   12345-2", "0.012345", kOk, 10},
      {10, 4, "  .5E0000 ", "0.5", kOk, 10},
      {10, 4, "2.5E+01\n", "25", kOk, 7},
      // Extremes of single precision: largest, overflow, subnormals, underflow.
      {10, 4, "3.40282E38", "3.40282e38", kOk, 10},
      {10, 4, "3.4029E+38", "inf", kOk, 10},
      {10, 4, "  -1.0E+39", "-inf", kOk, 10},
      {10, 4, "   1.4E-45", "1.4e-45", kOk, 10},
      {10, 4, "  -1.4E-45", "-1.4e-45", kOk, 10},
      {10, 4, "   7.0E-46", "7.0e-46", kOk, 10},
      {10, 4, "  1.17E-38", "1.17e-38", kOk, 10},
      {10, 4, "    1.E-50", "0", kOk, 10},
      {10, 4, "   -1.E-50", "-0", kOk, 10},
      // Exponents at the limit: still values, infinities and signed zeros.
      {10, 0, "1E99999999", "inf", kOk, 10},
      {11, 0, "-1E99999999", "-inf", kOk, 11},
      {10, 4, "1E-9999999", "0", kOk, 10},
      {10, 4, "-1E-999999", "-0", kOk, 10},
      // Without a digit the exponent's size does not matter.
      {11, 0, " E100000000", "0", kOk, 11},
  });
}

TEST(RealEditing, EmptyAndDigitlessFieldsReadAsZero) {
  check_real_cases({
      {10, 4, "\n", "0", kOk, 0},
      {10, 4, "\r\n", "0", kOk, 0},
      {10, 4, "    \n", "0", kOk, 4},
      {10, 4, "0000000000", "0", kOk, 10},
      {10, 4, "       0.0", "0", kOk, 10},
      // A sign, a point or an exponent alone; the sign of a digitless field does not stay.
      {10, 4, "         -", "0", kOk, 10},
      {10, 4, "         +", "0", kOk, 10},
      {10, 4, "-\n", "0", kOk, 1},
      {10, 4, "-    \n", "0", kOk, 5},
      {10, 4, "-0\n", "0", kOk, 2},
      {10, 4, "   -0.000 ", "0", kOk, 10},
      {40, 30, "                                     -00", "0", kOk, 40},
      {10, 4, "         .", "0", kOk, 10},
      {10, 4, "    -.    ", "0", kOk, 10},
      {10, 4, ".\n", "0", kOk, 1},
      {10, 4, "      E+05", "0", kOk, 10},
      {10, 4, "E5\n", "0", kOk, 2},
      {10, 4, "    -E-5  ", "0", kOk, 10},
      {10, 4, "     .E+05", "0", kOk, 10},
      {1, 0, "-", "0", kOk, 1},
  });
}

TEST(RealEditing, LineEndsAndCommasEndAFieldEarly) {
  check_real_cases({
      {10, 4, "1.5\n", "1.5", kOk, 3},
      {10, 4, "  -3\n", "-0.0003", kOk, 4},
      {10, 4, "12345\n", "1.2345", kOk, 5},
      {10, 4, "1.5\r\n", "1.5", kOk, 3},
      {10, 4, "  12345\r\n", "1.2345", kOk, 7},
      {10, 4, "1.5E3\n", "1500", kOk, 5},
      {10, 4, "1.5E 3 \n", "1500", kOk, 7},
      // A comma is consumed.
      {10, 4, "1.5,2.5\n", "1.5", kOk, 4},
      {10, 4, ",", "0", kOk, 1},
      {10, 4, "  ,", "0", kOk, 3},
      {10, 4, "-,", "0", kOk, 2},
      {10, 4, "12,", "0.0012", kOk, 3},
      {10, 4, "1.5E3,", "1500", kOk, 6},
      {10, 4, "1.5 ,", "1.5", kOk, 5},
      {10, 4, "1.5-3,9", "0.0015", kOk, 6},
      {10, 4, "1.,", "1", kOk, 3},
  });
}

TEST(RealEditing, EndOfFileInsideAFieldLeavesTheItemUntouched) {
  check_real_cases({
      {10, 4, "", nullptr, kEof, 0},
      {10, 4, "   ", nullptr, kEof, 3},
      {10, 4, "1.5", nullptr, kEof, 3},
      {10, 4, "12345", nullptr, kEof, 5},
      {10, 4, "-", nullptr, kEof, 1},
      {10, 4, "1.5E", nullptr, kEof, 4},
      {10, 4, "  -1.5E+", nullptr, kEof, 8},
      {10, 4, "  1.5E+1", nullptr, kEof, 8},
      // A field that uses all its columns is complete before the end of the file.
      {10, 4, "    1.5E+1", "15", kOk, 10},
      {10, 4, "          ", "0", kOk, 10},
  });
}

TEST(RealEditing, EditingErrors) {
  check_real_cases({
      // A second point.
      {10, 4, "1.5.2\n", nullptr, kBad, kAny},
      {10, 4, "    1.5.2 ", nullptr, kBad, kAny},
      {10, 4, "..\n", nullptr, kBad, kAny},
      // Letters and other characters.
      {10, 4, "12A\n", nullptr, kBad, kAny},
      {10, 4, "A\n", nullptr, kBad, kAny},
      {10, 4, "    1.5x  ", nullptr, kBad, kAny},
      {10, 4, "1.5Q3\n", nullptr, kBad, kAny},
      {10, 4, "\t1.5\n", nullptr, kBad, kAny},  // a tab is not a blank
      {10, 4, "1\r5\n", nullptr, kBad, kAny},   // a CR without its LF is an ordinary character
      {10, 4, "1/2\n", nullptr, kBad, kAny},
      // Characters after a complete exponent.
      {10, 4, "1-2-3\n", nullptr, kBad, kAny},
      {10, 4, "1E5E5\n", nullptr, kBad, kAny},
      {10, 4, "1E5.\n", nullptr, kBad, kAny},
      // A missing exponent digit.
      {10, 4, "      1.5E", nullptr, kBad, kAny},
      {10, 4, "    1.5E  ", nullptr, kBad, kAny},
      {10, 4, "1.5E\n", nullptr, kBad, kAny},
      {10, 4, "1.5e\r\n", nullptr, kBad, kAny},
      {10, 4, "1.5E+\n", nullptr, kBad, kAny},
      {10, 4, "     1.5E+", nullptr, kBad, kAny},
      {10, 4, "     1.5D-", nullptr, kBad, kAny},
      {10, 4, "      1.5+", nullptr, kBad, kAny},
      {10, 4, "1.5-\n", nullptr, kBad, kAny},
      {10, 4, "1.5E-X\n", nullptr, kBad, kAny},
      {10, 4, "1.5E,\n", nullptr, kBad, kAny},
      {10, 4, "1.5-,\n", nullptr, kBad, kAny},
      {10, 4, "+-\n", nullptr, kBad, kAny},
      // An exponent above 99999999 in a field with digits.
      {12, 0, "1E100000000\n", nullptr, kBad, kAny},
      {13, 0, "-1E-999999999", nullptr, kBad, kAny},
  });
}

// The decimal value is converted to double precision first and only then rounded to single
// precision. 1 + 2^-24 + 1e-20 rounds to 1 + 2^-24 in double precision, an exact tie in single
// precision that goes to the even 1.0; rounded directly it would give 1 + 2^-23.
TEST(RealEditing, RoundsThroughDoublePrecision) {
  struct Case {
    int w;
    std::string_view input;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {28, "1.00000005960464477539062501", 0x3f800000u},
      {29, "-1.00000005960464477539062501", 0xbf800000u},
      {26, "1.000000059604644775390625", 0x3f800000u},  // the tie itself
      {26, "1.000000178813934326171875", 0x3f800002u},  // 1 + 3 * 2^-24: tie to even, upwards
  };
  for (const Case& c : cases) {
    for (const Feed feed : kFeeds) {
      SCOPED_TRACE(shown(c.input) + ", fed as " + feed_name(feed));
      const RealResult r = read_field(feed, c.input, c.w, 0);
      ASSERT_EQ(r.status, EditStatus::kOk);
      EXPECT_EQ(r.bits, c.expected);
    }
  }
}

// --- The conversion of a parsed number

// Numbers at the edges of the exact fast path (an integer mantissa of at most 2^53, a power of
// ten of at most 22 either way) and past them, each against strtod of the same decimal text.
TEST(DecimalConversion, FastPathEdgesAgreeWithTheStandardLibrary) {
  struct Case {
    std::uint64_t mantissa;
    long power;
    bool negative;
    const char* decimal;
  };
  const Case cases[] = {
      {9007199254740992u, 0, false, "9007199254740992"},        // 2^53: fast
      {9007199254740993u, 0, false, "9007199254740993"},        // 2^53 + 1: exact path
      {9007199254740993u, -5, true, "-9007199254740993e-5"},    // rounds differently in one step
      {9999999999999999999u, 0, false, "9999999999999999999"},  // 19 digits
      {12345, 22, false, "12345e22"},
      {12345, 23, false, "12345e23"},
      {12345, -22, true, "-12345e-22"},
      {12345, -23, false, "12345e-23"},
      {1, -45, false, "1e-45"},  // a subnormal in single precision
      {7, -46, false, "7e-46"},  // below half the least subnormal: zero
      {1, -400, true, "-1e-400"},
      {1, 39, false, "1e39"},  // beyond single precision: an infinity
      {1, 400, true, "-1e400"},
      {340282356779733661, 21, false, "340282356779733661e21"},  // just below the overflow tie
      {0, 0, true, "0"},                                         // no digit: +0
      {0, 30, true, "0"},
  };
  for (const Case& c : cases) {
    DecimalNumber n;
    n.mantissa = c.mantissa;
    n.power = c.power;
    n.negative = c.negative;
    EXPECT_EQ(bits(decimal_to_float(n)), stored_bits(c.decimal)) << c.decimal;
  }
  // A digit string too long for the integer mantissa.
  const std::string digits = "1000000059604644775390625000001";
  DecimalNumber n;
  n.digits = digits.data();
  n.digit_count = static_cast<int>(digits.size());
  n.power = -30;
  n.too_many_digits = true;
  EXPECT_EQ(bits(decimal_to_float(n)), stored_bits("1.000000059604644775390625000001"));
}

// --- E editing against a reference built from the editing rules

// The table of generated fields comes from a fixed seed.
using testing_support::Generator;

// The parts of a numeric field, from which the field and its value are both built.
struct NumberParts {
  char sign = 0;  // 0, '+' or '-'
  std::string integer;
  bool point = false;
  std::string fraction;
  std::string exponent_mark;  // "", "E", "e", "D", "d", or "" with a bare sign
  char exponent_sign = 0;     // 0, '+' or '-'
  std::string exponent_digits;
};

// The value the rules give for a field of these parts under Ew.d, as a bit pattern: the digits
// with the power of ten made of -d (or minus the fraction's length when there is a point) and
// the exponent, converted by strtod and narrowed to single precision. No significant digit: +0.
std::uint32_t reference_bits(const NumberParts& p, int d) {
  const std::string digits = p.integer + p.fraction;
  if (digits.find_first_not_of('0') == std::string::npos) return bits(0.0f);
  long power = p.point ? -static_cast<long>(p.fraction.size()) : -static_cast<long>(d);
  if (!p.exponent_digits.empty()) {
    const long e = std::strtol(p.exponent_digits.c_str(), nullptr, 10);
    power += p.exponent_sign == '-' ? -e : e;
  }
  std::string text;
  if (p.sign == '-') text += '-';
  text += digits;
  text += 'e';
  text += std::to_string(power);
  return bits(static_cast<float>(std::strtod(text.c_str(), nullptr)));
}

// The field's characters with blanks put where blanks may stand: anywhere except between an
// exponent's sign and its first digit.
std::string field_text(const NumberParts& p, Generator& g, int blank_percent) {
  std::string s;
  auto gap = [&] {
    if (g.chance(blank_percent)) s += g.chance(80) ? " " : "  ";
  };
  if (p.sign != 0) {
    s += p.sign;
    gap();
  }
  for (const char c : p.integer) {
    s += c;
    gap();
  }
  if (p.point) {
    s += '.';
    gap();
  }
  for (const char c : p.fraction) {
    s += c;
    gap();
  }
  if (!p.exponent_digits.empty()) {
    if (!p.exponent_mark.empty()) {
      s += p.exponent_mark;
      gap();
    }
    if (p.exponent_sign != 0) s += p.exponent_sign;
    for (const char c : p.exponent_digits) {
      s += c;
      gap();
    }
  }
  return s;
}

std::string random_digits(Generator& g, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += g.digit();
  return s;
}

NumberParts random_parts(Generator& g) {
  NumberParts p;
  const int sign = g.below(20);
  p.sign = sign < 10 ? 0 : sign < 13 ? '+' : '-';
  p.integer = random_digits(g, g.below(8));
  if (g.chance(15))
    p.integer = std::string(static_cast<std::size_t>(g.below(3) + 1), '0') + p.integer;
  p.point = g.chance(55);
  if (p.point) {
    p.fraction = random_digits(g, g.below(8));
    if (g.chance(15))
      p.fraction = std::string(static_cast<std::size_t>(g.below(4) + 1), '0') + p.fraction;
  }
  if (g.chance(55)) {
    // A bare sign introduces an exponent only after a digit or a point.
    const bool bare = (!p.integer.empty() || p.point) && g.chance(25);
    static constexpr const char* kMarks[] = {"E", "e", "D", "d"};
    if (bare) {
      p.exponent_sign = g.chance(50) ? '+' : '-';
    } else {
      p.exponent_mark = kMarks[g.below(4)];
      const int s = g.below(3);
      p.exponent_sign = s == 0 ? 0 : s == 1 ? '+' : '-';
    }
    long e;
    const int kind = g.below(10);
    if (kind < 4) {
      e = g.below(100);
    } else if (kind < 8) {
      static constexpr int kEdges[] = {30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42,
                                       43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54};
      e = kEdges[g.below(static_cast<int>(std::size(kEdges)))];
    } else if (kind < 9) {
      e = g.below(10);
    } else {
      static constexpr long kLarge[] = {99, 100, 308, 309, 324, 325, 999, 9999, 99999, 1234567};
      e = kLarge[g.below(static_cast<int>(std::size(kLarge)))];
    }
    p.exponent_digits = std::to_string(e);
    if (g.chance(10)) p.exponent_digits = "0" + p.exponent_digits;
  }
  return p;
}

struct GeneratedField {
  std::string input;
  int consumed;
};

// Places a field of at most w characters in a record: right-justified and followed by more of
// the record, or left-justified and ended by the line end, a CR LF, a comma or trailing blanks.
GeneratedField place_field(const std::string& field, int w, Generator& g) {
  const auto width = static_cast<std::size_t>(w);
  const int how = field.size() == width ? 0 : g.below(10);
  if (how < 5) {
    static constexpr const char* kAfter[] = {"", "X", "9", "\n", ",", "E", "-5", " 1"};
    return {std::string(width - field.size(), ' ') + field +
                kAfter[g.below(static_cast<int>(std::size(kAfter)))],
            w};
  }
  const int n = static_cast<int>(field.size());
  if (how < 7) return {field + "\n", n};
  if (how < 8) return {field + "\r\n", n};
  if (how < 9) return {field + ",7", n + 1};
  return {field + std::string(width - field.size(), ' ') + "\n", w};
}

TEST(RealEditingExactness, GeneratedE10Point4FieldsMatchTheReference) {
  constexpr int kW = 10;
  constexpr int kD = 4;
  Generator g(0x5eed2024u);
  int checked = 0;
  int mismatches = 0;
  int nonzero_finite = 0;
  int infinities = 0;
  int subnormals = 0;

  auto check = [&](const NumberParts& parts, const GeneratedField& f) {
    ++checked;
    const std::uint32_t expected = reference_bits(parts, kD);
    for (const Feed feed : {Feed::kCharacters, Feed::kWholeBuffer, Feed::kFieldBuffer}) {
      const RealResult r = read_field(feed, f.input, kW, kD);
      const bool ok = r.status == EditStatus::kOk && r.bits == expected &&
                      r.consumed == static_cast<std::size_t>(f.consumed) && !r.misused;
      if (!ok && ++mismatches <= 20) {
        ADD_FAILURE() << "field " << shown(f.input) << " fed as " << feed_name(feed) << ": status "
                      << status_name(r.status) << ", consumed " << r.consumed << " (expected "
                      << f.consumed << "), bits 0x" << std::hex << r.bits << " (expected 0x"
                      << expected << std::dec << ")";
      }
    }
    const float e = std::bit_cast<float>(expected);
    if (std::isinf(e)) ++infinities;
    if (std::fpclassify(e) == FP_SUBNORMAL) ++subnormals;
    if (std::isnormal(e)) ++nonzero_finite;
  };

  // Fields that must be among them: the edges of single precision.
  struct Fixed {
    const char* integer;
    const char* fraction;
    bool point;
    const char* mark;
    char sign;
    const char* exponent;
  };
  const Fixed edges[] = {
      {"1", "0", true, "E", '+', "38"},     {"1", "0", true, "E", '-', "45"},
      {"1", "0", true, "E", '-', "50"},     {"1", "0", true, "E", '+', "39"},
      {"3", "4028", true, "E", 0, "38"},    {"3", "4029", true, "E", 0, "38"},
      {"1", "4", true, "E", '-', "45"},     {"7", "0", true, "E", '-', "46"},
      {"7", "1", true, "E", '-', "46"},     {"1", "1755", true, "", '-', "38"},
      {"1", "1754", true, "", '-', "38"},   {"340282", "", false, "", '+', "37"},
      {"340283", "", false, "", '+', "37"}, {"14", "", false, "", '-', "42"},
  };
  for (const Fixed& e : edges) {
    for (const char sign : {'\0', '-'}) {
      NumberParts p;
      p.sign = sign;
      p.integer = e.integer;
      p.point = e.point;
      p.fraction = e.fraction;
      p.exponent_mark = e.mark;
      p.exponent_sign = e.sign;
      p.exponent_digits = e.exponent;
      const std::string field = field_text(p, g, 0);
      ASSERT_LE(field.size(), 10u) << field;
      check(p, {std::string(kW - field.size(), ' ') + field, kW});
    }
  }

  for (int i = 0; i < 60000; ++i) {
    const NumberParts parts = random_parts(g);
    const std::string field = field_text(parts, g, g.chance(50) ? 0 : 15);
    if (field.size() > static_cast<std::size_t>(kW)) {
      --i;  // too wide for the field; draw again
      continue;
    }
    check(parts, place_field(field, kW, g));
  }

  EXPECT_EQ(mismatches, 0) << "of " << checked << " fields";
  // The table reaches every kind of result.
  EXPECT_GT(nonzero_finite, 10000);
  EXPECT_GT(infinities, 100);
  EXPECT_GT(subnormals, 100);
}

// --- A editing

struct CharactersCase {
  std::size_t n;
  std::size_t w;
  std::string_view input;
  std::string_view item;  // expected item, n characters (not checked at end of file)
  EditStatus status;
  std::size_t consumed;
};

TEST(CharacterEditing, PadsShortRecordsSkipsAndTruncates) {
  const std::string abc80 = "ABC" + std::string(77, ' ');
  const std::string long100 = std::string(40, 'x') + std::string(40, 'y') + std::string(20, 'z');
  const std::string first80 = long100.substr(0, 80);
  const std::string record100 = long100 + "\n";
  const std::string record3 = "ABC\n";
  const CharactersCase cases[] = {
      // w = n: a short record padded with blanks, its line end left unread.
      {80, 80, record3, abc80, kOk, 3},
      {80, 80, record100, first80, kOk, 80},
      {5, 5, "ABCDEFG\n", "ABCDE", kOk, 5},
      {5, 5, "ABCDE\n", "ABCDE", kOk, 5},
      {5, 5, "\n", "     ", kOk, 0},  // as a later field of the record finds it
      {5, 5, "AB\r\n", "AB   ", kOk, 2},
      {5, 5, "ABCDE", "ABCDE", kOk, 5},  // the field is complete before the end of the file
      // Tabs, lone CRs, blanks and other bytes are stored unchanged.
      {5, 5, "A\tB\rC\n", "A\tB\rC", kOk, 5},
      {5, 5, " a,'\"\n", " a,'\"", kOk, 5},
      {4, 4, "\xe9t\xe9!\n", "\xe9t\xe9!", kOk, 4},
      // w > n: the first w - n characters are skipped.
      {5, 8, "ABCDEFGHIJ\n", "DEFGH", kOk, 8},
      {5, 8, "ABCDEFGH\n", "DEFGH", kOk, 8},
      {5, 8, "ABCD\n", "D    ", kOk, 4},
      {5, 8, "AB\n", "     ", kOk, 2},
      {5, 8, "ABC\r\n", "     ", kOk, 3},
      // w < n: w characters stored, the rest of the item blank.
      {5, 3, "ABCDE\n", "ABC  ", kOk, 3},
      {5, 3, "A\n", "A    ", kOk, 1},
      {5, 1, "XYZ", "X    ", kOk, 1},
      // The end of the file before the line end.
      {5, 5, "ABC", "", kEof, 3},
      {5, 5, "", "", kEof, 0},
      {5, 8, "AB", "", kEof, 2},
      {5, 3, "AB", "", kEof, 2},
  };
  for (const CharactersCase& c : cases) {
    SCOPED_TRACE("A" + std::to_string(c.w) + " into " + std::to_string(c.n) + " on " +
                 shown(c.input));
    StringSource in(c.input);
    std::string item(c.n + 4, '#');  // the 4 extra bytes must stay untouched
    const EditStatus status = read_characters(in, item.data(), c.n, c.w);
    EXPECT_EQ(status_name(status), std::string(status_name(c.status)));
    EXPECT_EQ(in.pos(), c.consumed);
    EXPECT_FALSE(in.misused());
    EXPECT_EQ(item.substr(c.n), "####");
    if (c.status == EditStatus::kOk) {
      EXPECT_EQ(shown(item.substr(0, c.n)), shown(c.item));
    }
  }
}

}  // namespace
}  // namespace recordio
