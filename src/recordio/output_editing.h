// Output editing: values into the characters of a field.
//
// F editing is cut in two: the digits of a value (the text printf's "%#.*f" writes for its
// magnitude, or the platform's text for an infinity or a NaN, and whether a minus sign goes with
// it), then one placement of that text in a field of w characters.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Fw.d of a single-precision value: exactly w characters at `field`.
void write_fixed(char* field, float v, int w, int d);

// The list-directed text of a float: a blank, a blank or minus sign, then the body ("0." for a
// zero, otherwise the "%.9G" text with a point made sure of). Returns its length.
std::size_t list_real_text(float v, char (&text)[32]);

// FW.3 for the widths of the rows' fields, written straight into the field: |v| x 1000 is exact
// in double precision and rounds to an integer ties to even, as printf's "%#.3f" rounds; the
// point and decimals come from one table entry, the digits before the point from the pair
// table, blanks and the sign around them. The leading "0" of a magnitude below 1 always fits at
// these widths. False, having written nothing, when the text does not fit (asterisks), and for
// a huge value, an infinity or a NaN: write_fixed does those.
template <int W>
[[gnu::always_inline]] inline bool write_three_decimals(char* field, float v) {
  static_assert(W >= 6 && W <= 16);
  constexpr std::uint64_t kFits = [] {  // n below 10^(W-1): W - 4 digits before the point
    std::uint64_t p = 1;
    for (int i = 1; i < W; ++i) p *= 10;
    return p;
  }();
  const double scaled = std::fabs(static_cast<double>(v)) * 1000.0;
  if (!(scaled < kTwoTo52)) return false;
  const auto n =
      static_cast<std::uint64_t>(static_cast<std::int64_t>((scaled + kTwoTo52) - kTwoTo52));
  const bool minus = std::signbit(v) && n != 0;
  if (n >= (minus ? kFits / 10 : kFits)) return false;
  constexpr char kBlanks[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if constexpr (W >= 8) {
    std::memcpy(field, kBlanks, 8);
    std::memcpy(field + W - 8, kBlanks, 8);
  } else {
    std::memcpy(field, kBlanks, 4);
    std::memcpy(field + W - 4, kBlanks, 4);
  }
  const std::uint64_t whole = n / 1000;
  char* p = field + W - 4;
  std::memcpy(p, digit_tables::kPointAndThreeDecimals[n - whole * 1000].data(), 4);
  p = whole < 10 ? (*--p = static_cast<char>('0' + whole), p)
                 : digit_tables::digits_backwards(p, whole);
  if (minus) p[-1] = '-';
  return true;
}

}  // namespace recordio
