// Output editing: Fw.d of single-precision values, every field exactly w characters; and the
// list-directed text of a float: blank, sign position, then the "%.9G" body made to show a point.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "recordio/output_editing.h"
#include "support/fixed_reference.h"
#include "support/generator.h"

namespace recordio {
namespace {

using testing_support::Generator;
using testing_support::reference_fixed;  // the field for Fw.d built from the editing rules

constexpr char kGuard = '\x7f';
constexpr std::size_t kGuardBytes = 8;

// Runs an editor over a field of w characters followed by guard bytes, which must stay intact.
template <class Edit>
std::string edited(int w, Edit edit) {
  std::string buffer(static_cast<std::size_t>(w) + kGuardBytes, kGuard);
  edit(buffer.data());
  EXPECT_EQ(buffer.substr(static_cast<std::size_t>(w)), std::string(kGuardBytes, kGuard))
      << "the editor wrote beyond its field";
  buffer.resize(static_cast<std::size_t>(w));
  return buffer;
}

std::string fixed(float v, int w, int d) {
  return edited(w, [&](char* field) { write_fixed(field, v, w, d); });
}

struct FixedCase {
  float value;
  int w;
  int d;
  std::string field;
};

void check_fixed_cases(const std::vector<FixedCase>& cases) {
  for (const FixedCase& c : cases) {
    EXPECT_EQ(fixed(c.value, c.w, c.d), c.field)
        << "F" << c.w << "." << c.d << " of " << c.value << " (bits 0x" << std::hex
        << std::bit_cast<std::uint32_t>(c.value) << ")";
  }
}

float next_down(float v) {
  return std::nextafter(v, -std::numeric_limits<float>::infinity());
}
float next_up(float v) {
  return std::nextafter(v, std::numeric_limits<float>::infinity());
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kTrueMin = std::numeric_limits<float>::denorm_min();

// --- F editing

TEST(FixedEditing, FieldsOfTheCombinedFileRows) {
  check_fixed_cases({
      {0.005f, 7, 3, "  0.005"},
      {12.3456f, 10, 3, "    12.346"},
      {-0.0004f, 10, 3, "     0.000"},  // rounds to zeros: no sign
      {-1234.5f, 10, 3, " -1234.500"},
      {123.4567f, 10, 3, "   123.457"},
      {-1234567.0f, 10, 3, "**********"},
      {123456.7f, 10, 3, "123456.703"},  // 123456.703125 in single precision
      {-123456.7f, 10, 3, "**********"},
      {-99999.999f, 10, 3, "**********"},  // -100000.0 in single precision
      {1000.0f, 7, 3, "*******"},
      {-0.5f, 7, 3, " -0.500"},
      {0.0f, 7, 3, "  0.000"},
      {-0.0f, 7, 3, "  0.000"},
      {0.0f, 10, 3, "     0.000"},
      {1.0f, 10, 3, "     1.000"},
      {-1.0f, 7, 3, " -1.000"},
      {0.015f, 7, 3, "  0.015"},  // 0.01499999966...
      {0.0049999f, 7, 3, "  0.005"},
      {0.0004999f, 7, 3, "  0.000"},
      {-0.0006f, 7, 3, " -0.001"},
  });
}

TEST(FixedEditing, LeadingZeroDroppedOnlyWhenItAloneDoesNotFit) {
  check_fixed_cases({
      {0.5f, 4, 3, ".500"},
      {0.5f, 5, 3, "0.500"},
      {-0.5f, 5, 3, "-.500"},
      {-0.5f, 4, 3, "****"},
      {0.25f, 3, 2, ".25"},
      {0.25f, 2, 2, "**"},
      {1.5f, 3, 3, "***"},  // "1.500": the leading digit is no "0"
      {0.0f, 1, 0, "."},    // "0." is one too long and begins with "0"
      {0.0f, 2, 0, "0."},
      {-0.4f, 1, 0, "."},   // rounds to "0.", no sign
      {-1.0f, 2, 0, "**"},  // "-1." is one too long and begins with "-"
      {9.0f, 2, 0, "9."},
      {10.0f, 2, 0, "**"},
  });
}

TEST(FixedEditing, WidthBoundsInSinglePrecision) {
  check_fixed_cases({
      // F10.3: values below 999999.9995 fit. The floats next to it are 999999.9375 and 1e6.
      {next_down(1.0e6f), 10, 3, "999999.938"},
      {999999.9995f, 10, 3, "**********"},
      {999999.999f, 10, 3, "**********"},
      {1.0e6f, 10, 3, "**********"},
      // F10.3: values above -99999.9995 fit; -99999.99 is -99999.9921875.
      {-99999.99f, 10, 3, "-99999.992"},
      {next_up(-100000.0f), 10, 3, "-99999.992"},
      {-100000.0f, 10, 3, "**********"},
      {99999.99f, 10, 3, " 99999.992"},
      // F7.3: 999.9995 is 999.99951171875 and rounds to 1000.000; the float below it fits.
      {999.9995f, 7, 3, "*******"},
      {next_down(999.9995f), 7, 3, "999.999"},  // 999.99945068359375
      // F7.3: -99.9995 is -99.99949645996094 and fits; the float below it rounds to -100.000.
      {-99.9995f, 7, 3, "-99.999"},
      {next_down(-99.9995f), 7, 3, "*******"},  // -99.99950408935547
      {-99.99f, 7, 3, "-99.990"},
      {-100.0f, 7, 3, "*******"},
      {999.0f, 7, 3, "999.000"},
  });
}

TEST(FixedEditing, InfinitiesAndNotANumber) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  check_fixed_cases({
      {kInf, 10, 3, "       inf"},
      {-kInf, 10, 3, "      -inf"},
      {kInf, 7, 3, "    inf"},
      {-kInf, 7, 3, "   -inf"},
      {kInf, 3, 1, "inf"},
      {-kInf, 4, 1, "-inf"},
      {-kInf, 3, 1, "***"},  // "inf" begins with no "0" to drop
      {kInf, 2, 1, "**"},
      {nan, 10, 3, "       nan"},
      {-nan, 10, 3, "       nan"},
      {std::bit_cast<float>(0x7fa00001u), 7, 3, "    nan"},  // a signalling pattern
      {nan, 2, 0, "**"},
      // Fields wider than the short path's buffer, and many decimals.
      {-kInf, 40, 3, std::string(36, ' ') + "-inf"},
      {nan, 33, 3, std::string(30, ' ') + "nan"},
      {kInf, 10, 12, "       inf"},
  });
}

TEST(FixedEditing, SubnormalsAndExtremes) {
  check_fixed_cases({
      {kTrueMin, 10, 3, "     0.000"},
      {-kTrueMin, 10, 3, "     0.000"},
      {std::numeric_limits<float>::min(), 7, 3, "  0.000"},
      {-std::numeric_limits<float>::min(), 7, 3, "  0.000"},
      {std::numeric_limits<float>::max(), 10, 3, "**********"},
      {std::numeric_limits<float>::lowest(), 10, 3, "**********"},
      {std::numeric_limits<float>::max(), 45, 3, "  340282346638528859811704183484516925440.000"},
      {-std::numeric_limits<float>::max(), 44, 0, "   -340282346638528859811704183484516925440."},
      {16777216.0f, 12, 1, "  16777216.0"},
      {1.0e30f, 40, 2, "      1000000015047466219876688855040.00"},
      {-1.5f, 33, 3, std::string(27, ' ') + "-1.500"},
      {0.25f, 32, 2, std::string(28, ' ') + "0.25"},
  });
}

// Fields whose digits the reference takes from the platform's "%#.*f": the ties of two d-decimal
// texts, which go the way it takes them, and fields of many decimals.
TEST(FixedEditing, TiesAndManyDecimalsMatchTheReference) {
  struct Case {
    float value;
    int w;
    int d;
  };
  const Case ties[] = {
      {0.0625f, 10, 3}, {-0.0625f, 10, 3}, {0.0005f, 7, 3},     {-0.0005f, 7, 3},
      {0.5f, 5, 0},     {-0.5f, 5, 0},     {1.5f, 5, 0},        {2.5f, 5, 0},
      {-2.5f, 5, 0},    {3.5f, 5, 0},      {0.125f, 6, 2},      {0.375f, 6, 2},
      {-0.125f, 6, 2},  {2.25f, 6, 1},     {2.75f, 6, 1},       {0.0078125f, 10, 6},
      {1.5f, 3, 0},     {0.5f, 1, 0},      {1048576.5f, 12, 0}, {8388607.5f, 12, 0},
      {0.03125f, 6, 4}, {-0.03125f, 6, 4}, {0.4375f, 4, 3},     {-0.0009765625f, 10, 9},
  };
  const Case many_decimals[] = {
      {kTrueMin, 60, 50},
      {-kTrueMin, 60, 50},
      {kTrueMin, 60, 44},
      {-kTrueMin, 60, 44},
      {kTrueMin, 60, 45},
      {-kTrueMin, 60, 45},
      {0.1f, 30, 20},
      {-0.1f, 30, 27},
      {1.0f / 3.0f, 40, 30},
      {0.005f, 30, 19},
      {0.005f, 30, 20},
      {-123456.7f, 40, 25},
      {std::numeric_limits<float>::min(), 200, 150},
      {std::numeric_limits<float>::max(), 200, 100},
      {1.0e-20f, 25, 20},
      {-1.0e-20f, 24, 21},
      {2.0f, 150, 120},
  };
  for (const auto& table : {std::span<const Case>(ties), std::span<const Case>(many_decimals)}) {
    for (const Case& c : table) {
      EXPECT_EQ(fixed(c.value, c.w, c.d), reference_fixed(c.value, c.w, c.d))
          << "F" << c.w << "." << c.d << " of " << c.value;
    }
  }
  // The ties worth knowing by heart, whichever way they go: the sign is kept only with a
  // nonzero digit, and the field keeps its width.
  const std::string minus_half = fixed(-0.5f, 5, 0);
  EXPECT_TRUE(minus_half == "   0." || minus_half == "  -1.") << minus_half;
}

TEST(FixedEditing, GeneratedValuesMatchTheReference) {
  struct Width {
    int w;
    int d;
  };
  const Width widths[] = {{7, 3},   {10, 3},  {1, 0},   {2, 0},  {3, 1},  {4, 3},
                          {5, 0},   {6, 5},   {8, 2},   {9, 4},  {12, 6}, {15, 9},
                          {20, 12}, {14, 12}, {13, 12}, {25, 1}, {45, 0}, {50, 12}};
  Generator g(0xf10a7u);
  int checked = 0;
  int mismatches = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::uint64_t r = g.next();
    std::uint32_t pattern;
    if (i % 2 == 0) {
      pattern = static_cast<std::uint32_t>(r);  // any pattern at all
    } else {
      // Magnitudes from about 1e-7 to 1e8, where the digits of the fields matter.
      const std::uint32_t exponent = 103u + static_cast<std::uint32_t>((r >> 32) % 51u);
      pattern = (static_cast<std::uint32_t>(r) & 0x807fffffu) | (exponent << 23);
    }
    const float v = std::bit_cast<float>(pattern);
    for (const Width& f : widths) {
      ++checked;
      const std::string got = fixed(v, f.w, f.d);
      const std::string want = reference_fixed(v, f.w, f.d);
      if (got != want && ++mismatches <= 20) {
        ADD_FAILURE() << "F" << f.w << "." << f.d << " of bits 0x" << std::hex << pattern
                      << std::dec << ": \"" << got << "\", expected \"" << want << "\"";
      }
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << checked << " fields";
}

// Values sitting exactly on a tie of d decimals: (2k + 1) / 2^(d + 1) times 10^d is
// (2k + 1) 5^d / 2, an odd number of halves, and single precision holds it exactly.
TEST(FixedEditing, GeneratedTiesMatchPrintf) {
  Generator g(0x71e5u);
  int mismatches = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t r = g.next();
    const int d = static_cast<int>(r % 4);  // 0 to 3 decimals
    const auto k = static_cast<std::uint32_t>((r >> 8) % 1000000u);
    const float v =
        std::ldexp(static_cast<float>(2 * k + 1), -(d + 1)) * ((r >> 40) & 1 ? -1.0f : 1.0f);
    const double scaled = static_cast<double>(v) * std::pow(10.0, d);
    ASSERT_EQ(scaled - std::floor(scaled), 0.5) << v;
    const int w = 12;
    const std::string got = fixed(v, w, d);
    const std::string want = reference_fixed(v, w, d);
    if (got != want && ++mismatches <= 20) {
      ADD_FAILURE() << "F" << w << "." << d << " of " << v << ": \"" << got << "\", expected \""
                    << want << "\"";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// --- The list-directed text of a float

std::string text_of(float v) {
  char text[32];
  return std::string(text, list_real_text(v, text));
}

TEST(ListRealText, RendersTheRunsValuesAndTheReferenceValues) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.005f, "  0.00499999989"},
      {1.0f, "  1."},
      {0.5f, "  0.5"},
      {-2.25f, " -2.25"},
      {123456789.0f, "  123456792."},
      {0.0f, "  0."},
      {-0.0f, " -0."},
      {1e10f, "  1.E+10"},
      {1.5e-7f, "  1.50000005E-07"},
      {-3.0e38f, " -3.00000001E+38"},
      {100.0f, "  100."},
      {__builtin_inff(), "  INF"},
      {-__builtin_inff(), " -INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text_of(c.value), c.text) << "value " << c.value;
  }
}

}  // namespace
}  // namespace recordio
