// Output editing: values into the characters of a field.
//
// F editing is cut in two: the digits of a value (the text printf's "%#.*f" writes for its
// magnitude, or the platform's text for an infinity or a NaN, and whether a minus sign goes with
// it), then one placement of that text in a field of w characters.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "format.h"
#include "simd.h"

namespace recordio {

namespace digit_tables {

// "00" to "99", for writing digits two at a time.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> p{};
  for (int i = 0; i < 100; ++i) {
    p[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    p[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return p;
}();

// ".000" to ".999": the point and fraction of the three-decimal fields in one move.
inline constexpr std::array<std::array<char, 4>, 1000> kPointAndThreeDecimals = [] {
  std::array<std::array<char, 4>, 1000> t{};
  for (int i = 0; i < 1000; ++i) {
    auto& e = t[static_cast<std::size_t>(i)];
    e = {'.', static_cast<char>('0' + i / 100), static_cast<char>('0' + i / 10 % 10),
         static_cast<char>('0' + i % 10)};
  }
  return t;
}();

// The digits before the point of a magnitude below 1000, with the sign, right-aligned in columns
// 2 to 5 of an 8-byte entry whose first two columns are blanks: entry w without a sign ("   0",
// "  12", " 999"), entry 1000 + w with one ("  -5", " -12", "-123"). F10.3 takes the first
// eight bytes, F7.3 the four from column 3.
inline constexpr std::array<std::array<char, 8>, 2000> kSignedWholes = [] {
  std::array<std::array<char, 8>, 2000> t{};
  for (int i = 0; i < 2000; ++i) {
    auto& e = t[static_cast<std::size_t>(i)];
    e = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    int at = 5;
    int v = i % 1000;
    do {
      e[static_cast<std::size_t>(at--)] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    if (i >= 1000) e[static_cast<std::size_t>(at)] = '-';
  }
  return t;
}();

inline void put_pair(char* at, std::uint64_t v) {
  std::memcpy(at, &kDigitPairs[static_cast<std::size_t>(2 * v)], 2);
}

// Writes the decimal digits of v backwards, ending just before `end`; returns the first digit.
inline char* digits_backwards(char* end, std::uint64_t v) {
  while (v >= 100) {
    end -= 2;
    put_pair(end, v % 100);
    v /= 100;
  }
  if (v >= 10) {
    end -= 2;
    put_pair(end, v);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

}  // namespace digit_tables

// 2^52: adding and taking it away rounds a smaller non-negative double to an integer, ties to
// even, as printf rounds.
inline constexpr double kTwoTo52 = 4503599627370496.0;

// x rounded to an integer, ties to even, as the program's rounding mode rounds; a value beyond
// the range of a 64-bit integer, an infinity or a NaN gives -2^63.
inline std::int64_t round_to_integer(double x) {
#if RECORDIO_SIMD
  return _mm_cvtsd_si64(_mm_set_sd(x));  // out of range: -2^63
#else
  if (!(std::fabs(x) < kTwoTo52)) return std::numeric_limits<std::int64_t>::min();
  const double r = x < 0 ? -((-x + kTwoTo52) - kTwoTo52) : (x + kTwoTo52) - kTwoTo52;
  return static_cast<std::int64_t>(r);
#endif
}

// Fw.d of a single-precision value: exactly w characters at `field`.
void write_fixed(char* field, float v, int w, int d);

// The list-directed text of a float: a blank, a blank or minus sign, then the body ("0." for a
// zero, otherwise the "%.9G" text with a point made sure of). Returns its length.
std::size_t list_real_text(float v, char (&text)[32]);

// FW.3 for the widths of the rows' fields, F7.3 and F10.3, written straight into the field:
// v x 1000 is exact in double precision and rounds to an integer ties to even, as printf's
// "%#.3f" rounds, keeping its sign, so that a value that rounds to zero has none. For a
// magnitude below 1000 (nearly every value) the sign and digits before the point come from one
// table entry, blanks before them, and the point and decimals from another. The leading "0" of
// a magnitude below 1 always fits at these widths. False, having written nothing, for any other
// value: write_fixed does those (wider numbers, asterisks, infinities, NaNs).
template <int W>
[[gnu::always_inline]] inline bool write_three_decimals(char* field, float v) {
  static_assert(W == 7 || W == 10);
  const std::int64_t rounded = round_to_integer(static_cast<double>(v) * 1000.0);
  // The sign by arithmetic, not by a branch: the rows' signs follow no pattern a branch
  // predictor could learn. -2^63 (out of range) keeps its magnitude of 2^63.
  const auto minus_mask = static_cast<std::uint64_t>(rounded >> 63);
  const std::uint64_t n = (static_cast<std::uint64_t>(rounded) ^ minus_mask) - minus_mask;
  // Below 1000 before the point, which fits F10.3 with or without a sign, and F7.3 without one;
  // F7.3 with a minus sign has room for two digits before the point.
  const std::uint64_t below =
      W == 10 ? 1'000'000 : 1'000'000 - (minus_mask & (1'000'000 - 100'000));
  if (n >= below) return false;
  // Below 2^32 now: a 32-bit quotient is one multiplication.
  const auto m = static_cast<std::uint32_t>(n);
  const std::uint32_t whole = m / 1000;
  const char* const signed_whole = digit_tables::kSignedWholes[(minus_mask & 1000) + whole].data();
  const char* const decimals = digit_tables::kPointAndThreeDecimals[m - whole * 1000].data();
  if constexpr (W == 10) {
    std::memcpy(field, signed_whole, 8);
  } else {
    std::memcpy(field, signed_whole + 3, 4);
  }
  std::memcpy(field + W - 4, decimals, 4);
  return true;
}

// A row format: every data item a row field, after a literal of at most one byte. Its records are
// built whole in a unit's buffer, each field by write_row_field in place. The room one record
// takes there (literals, fields and line end), at most Format::kMaxParts * 11 +
// Format::kMaxLiteralBytes + 2; 0 for any other format.
std::size_t row_room(const Format& format);

// A row field as the rows write it: the in-line editor, and write_fixed for the values it leaves.
// Returns 0, a statement's result for the item, so that a statement can end the item with it and
// keep no frame around the call to write_fixed.
[[gnu::noinline]] int write_row_field_fixed(char* field, float v, int w);
template <int W>
[[gnu::always_inline]] inline int write_row_field(char* field, float v) {
  if (write_three_decimals<W>(field, v)) [[likely]]
    return 0;
  return write_row_field_fixed(field, v, W);
}

}  // namespace recordio
