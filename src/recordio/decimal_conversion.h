// Decimal numbers into single-precision values: one conversion that every reading path shares.
//
// A reader turns a field into a DecimalNumber (sign, significant digits, power of ten) and hands
// it to decimal_to_float. The value is the decimal number converted to double precision correctly
// rounded, then rounded to single precision.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "simd.h"

namespace recordio {

// sign * digits * 10^power. The digits are kept as an integer while there are at most 19 of them
// (`mantissa`); beyond that `too_many_digits` is set and `digits` holds the whole digit string.
struct DecimalNumber {
  std::uint64_t mantissa = 0;
  long power = 0;
  const char* digits = nullptr;  // the digit string, needed only with too_many_digits
  int digit_count = 0;
  bool negative = false;
  bool too_many_digits = false;
};

// Powers of ten that double precision holds exactly.
inline constexpr std::array<double, 23> kExactPowersOfTen = [] {
  std::array<double, 23> p{};
  double v = 1.0;
  for (double& e : p) {
    e = v;
    v *= 10.0;
  }
  return p;
}();

// The largest power of ten the fast tier divides by: 10^22 is the largest exact in double
// precision.
inline constexpr std::size_t kMaxExactScale = kExactPowersOfTen.size() - 1;

// The decimal number in double precision, correctly rounded, by the standard library's exact
// conversion of its decimal text: for the numbers the fast path of decimal_to_float leaves.
double exact_decimal_to_double(DecimalNumber n);

// The fast tier of the conversion: signed digits of magnitude at most 2^53 (an integer, held
// exactly in double precision) over 10^scale, scale at most 22. Both are exact, so one correctly
// rounded division gives the correctly rounded double; rounding to nearest is symmetric, so the
// sign may go on the digits. An integer zero has no sign: no significant digit gives +0.
inline float divided_exactly(double digits, std::size_t scale) {
  return static_cast<float>(digits / kExactPowersOfTen[scale]);
}

#if RECORDIO_SIMD
// The fast tier for two such numbers over the same power of ten, in the low half of the result.
// A signed zero comes out as -0: the caller adds +0 to the values (which changes no other).
inline __m128 divided_exactly(__m128d digits, std::size_t scale) {
  return _mm_cvtpd_ps(_mm_div_pd(digits, _mm_set1_pd(kExactPowersOfTen[scale])));
}
#endif

// The decimal number as a single-precision value; no significant digit gives +0.
//
// A mantissa of at most 2^53 and a power of ten of at most 22 are both exact in double precision,
// so one correctly rounded multiplication or division gives the correctly rounded double. Every
// other number goes through the exact conversion.
inline float decimal_to_float(const DecimalNumber& n) {
  if (!n.too_many_digits && n.mantissa == 0) return 0.0f;
  double magnitude;
  if (!n.too_many_digits && n.mantissa <= (std::uint64_t{1} << 53) && n.power >= -22 &&
      n.power <= 22) {
    if (n.power < 0) {
      const auto digits = static_cast<std::int64_t>(n.mantissa);
      return divided_exactly(static_cast<double>(n.negative ? -digits : digits),
                             static_cast<std::size_t>(-n.power));
    }
    magnitude =
        static_cast<double>(n.mantissa) * kExactPowersOfTen[static_cast<std::size_t>(n.power)];
  } else {
    magnitude = exact_decimal_to_double(n);
  }
  const auto single = static_cast<float>(magnitude);
  return n.negative ? -single : single;
}

}  // namespace recordio
