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

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

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

// The digits before the point of a magnitude below 1000, with the sign, right-aligned in four
// columns: [0] without a sign ("   0", "  12", " 999"), [1] with one ("  -5", " -12", "-123").
inline constexpr std::array<std::array<std::array<char, 4>, 1000>, 2> kSignedWholes = [] {
  std::array<std::array<std::array<char, 4>, 1000>, 2> t{};
  for (int minus = 0; minus < 2; ++minus) {
    for (int w = 0; w < 1000; ++w) {
      auto& e = t[static_cast<std::size_t>(minus)][static_cast<std::size_t>(w)];
      e = {' ', ' ', ' ', ' '};
      int at = 3;
      int v = w;
      do {
        e[static_cast<std::size_t>(at--)] = static_cast<char>('0' + v % 10);
        v /= 10;
      } while (v != 0);
      if (minus) e[static_cast<std::size_t>(at)] = '-';
    }
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

// x (at least 0) rounded to an integer, ties to even, as the program's rounding mode rounds; a
// value of 2^63 or more, an infinity or a NaN gives 2^63 or more.
inline std::uint64_t round_magnitude(double x) {
#if defined(__x86_64__)
  return static_cast<std::uint64_t>(_mm_cvtsd_si64(_mm_set_sd(x)));  // out of range: 2^63
#else
  if (!(x < kTwoTo52)) return std::uint64_t{1} << 63;
  return static_cast<std::uint64_t>(static_cast<std::int64_t>((x + kTwoTo52) - kTwoTo52));
#endif
}

// F10.3 of a magnitude from 1000 to 999999.999: the digits before the point, the decimals'
// entry, and the sign. Out of line: the rows' values are nearly all smaller.
[[gnu::noinline]] void write_ten_columns_wide(char* field, std::uint64_t whole,
                                              const char* decimals, bool minus);

// Fw.d of a single-precision value: exactly w characters at `field`.
void write_fixed(char* field, float v, int w, int d);

// The list-directed text of a float: a blank, a blank or minus sign, then the body ("0." for a
// zero, otherwise the "%.9G" text with a point made sure of). Returns its length.
std::size_t list_real_text(float v, char (&text)[32]);

// FW.3 for the widths of the rows' fields, F7.3 and F10.3, written straight into the field:
// |v| x 1000 is exact in double precision and rounds to an integer ties to even, as printf's
// "%#.3f" rounds; the point and decimals come from one table entry, and for a magnitude below
// 1000 (nearly every value) the sign and digits before the point from another; blanks around
// them. The leading "0" of a magnitude below 1 always fits at these widths. False, having
// written nothing, when the text does not fit (asterisks), and for a huge value, an infinity or
// a NaN: write_fixed does those.
template <int W>
[[gnu::always_inline]] inline bool write_three_decimals(char* field, float v) {
  static_assert(W == 7 || W == 10);
  constexpr std::uint64_t kFits = W == 7 ? 1'000'000 : 1'000'000'000;  // n below 10^(W-1)
  const std::uint64_t n = round_magnitude(std::fabs(static_cast<double>(v)) * 1000.0);
  // The sign by arithmetic, not by a branch: the rows' signs follow no pattern a branch
  // predictor could learn. A minus sign takes a column from the digits.
  const auto minus =
      static_cast<unsigned>(std::bit_cast<std::uint32_t>(v) >> 31) & static_cast<unsigned>(n != 0);
  if (n >= kFits - minus * (kFits - kFits / 10)) return false;
  // Below 2^32 now: a 32-bit quotient is one multiplication.
  const std::uint32_t whole = static_cast<std::uint32_t>(n) / 1000;
  const char* const decimals =
      digit_tables::kPointAndThreeDecimals[static_cast<std::uint32_t>(n) - whole * 1000].data();
  // F7.3's bounds keep it below 1000 before the point, and the entry's first column blank.
  if (W == 7 || whole < 1000) [[likely]] {
    const char* const signed_whole = digit_tables::kSignedWholes[minus][whole].data();
    if constexpr (W == 10) {
      constexpr char kBlanks[2] = {' ', ' '};
      std::memcpy(field, kBlanks, 2);
      std::memcpy(field + 2, signed_whole, 4);
    } else {
      std::memcpy(field, signed_whole + 1, 3);
    }
    std::memcpy(field + W - 4, decimals, 4);
    return true;
  }
  write_ten_columns_wide(field, whole, decimals, minus);
  return true;
}

}  // namespace recordio
