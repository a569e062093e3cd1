#include "editing.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace recordio {
namespace {

constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
  std::array<std::uint64_t, 20> p{};
  std::uint64_t v = 1;
  for (std::uint64_t& e : p) {
    e = v;
    v *= 10;
  }
  return p;
}();

// Writes the decimal digits of v backwards, ending just before `end`; returns the first digit.
// "00" to "99", for writing digits two at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> p{};
  for (int i = 0; i < 100; ++i) {
    p[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    p[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return p;
}();

void put_pair(char* at, std::uint64_t v) {
  std::memcpy(at, &kDigitPairs[static_cast<std::size_t>(2 * v)], 2);
}

char* digits_backwards(char* end, std::uint64_t v) {
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

// ".000" to ".999": the point and fraction of the three-decimal fields in one move.
constexpr std::array<std::array<char, 4>, 1000> kPointAndThreeDecimals = [] {
  std::array<std::array<char, 4>, 1000> t{};
  for (int i = 0; i < 1000; ++i) {
    auto& e = t[static_cast<std::size_t>(i)];
    e = {'.', static_cast<char>('0' + i / 100), static_cast<char>('0' + i / 10 % 10),
         static_cast<char>('0' + i % 10)};
  }
  return t;
}();

// Exactly `count` digits of v (leading zeros kept), ending just before `end`.
char* fixed_digits_backwards(char* end, std::uint64_t v, int count) {
  for (; count >= 2; count -= 2) {
    end -= 2;
    put_pair(end, v % 100);
    v /= 100;
  }
  if (count == 1) *--end = static_cast<char>('0' + v % 10);
  return end;
}

// Copies n bytes, n at most 32, with fixed-size moves the compiler keeps inline.
void copy_small(char* to, const char* from, std::size_t n) {
  if (n >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
  }
}

// Places sign and text in a field of w characters by the F and E editing rules: a leading "0"
// dropped when it alone does not fit, asterisks when the rest does not fit, blanks on the left.
void place(char* field, int w, bool minus, const char* text, std::size_t length) {
  std::size_t need = length + (minus ? 1 : 0);
  const auto width = static_cast<std::size_t>(w);
  if (need == width + 1 && length > 0 && text[0] == '0') {
    ++text;
    --length;
    --need;
  }
  if (need > width) {
    std::memset(field, '*', width);
    return;
  }
  std::memset(field, ' ', width - need);
  char* at = field + (width - need);
  if (minus) *at++ = '-';
  std::memcpy(at, text, length);
}

// The text of |v| with d decimals, rounded as printf's "%#.*f" does: exactly, ties to even.
// Used for huge magnitudes and many decimals, which the fast path of write_fixed leaves to the
// standard library's exact conversion. Returns its length; `text` needs room for 420 + d
// characters.
std::size_t fixed_text(float v, int d, char* text, bool& nonzero) {
  const std::to_chars_result r = std::to_chars(
      text, text + 420 + d, static_cast<double>(std::fabs(v)), std::chars_format::fixed, d);
  auto length = static_cast<std::size_t>(r.ptr - text);
  if (d == 0) text[length++] = '.';
  nonzero = false;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] >= '1' && text[i] <= '9') nonzero = true;
  }
  return length;
}

}  // namespace

float decimal_to_float(bool negative, const char* digits, int count, long exponent) {
  double magnitude;
  if (count <= 15 && exponent >= -22 && exponent <= 22) {
    // Both operands exact: one correctly rounded operation gives the correctly rounded result.
    std::uint64_t m = 0;
    for (int i = 0; i < count; ++i) m = m * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    const auto dm = static_cast<double>(m);
    magnitude = exponent >= 0 ? dm * kExactPowersOfTen[static_cast<std::size_t>(exponent)]
                              : dm / kExactPowersOfTen[static_cast<std::size_t>(-exponent)];
  } else {
    char text[Format::kMaxNumericWidth + 32];
    std::memcpy(text, digits, static_cast<std::size_t>(count));
    char* end = text + count;
    *end++ = 'e';
    end = std::to_chars(end, text + sizeof text, exponent).ptr;
    const std::from_chars_result r = std::from_chars(text, end, magnitude);
    if (r.ec == std::errc::result_out_of_range) {
      // Beyond the range of double precision: an infinity above, a zero below.
      magnitude = exponent > 0 ? HUGE_VAL : 0.0;
    }
  }
  const auto single = static_cast<float>(magnitude);
  return negative ? -single : single;
}

namespace {

// Splits n into its integer part and its last d digits; constant divisors for the usual d.
template <int D>
void split_fixed(std::uint64_t n, std::uint64_t& whole, std::uint64_t& fraction) {
  constexpr std::uint64_t kScale = kPowersOfTen[D];
  whole = n / kScale;
  fraction = n % kScale;
}

void split(std::uint64_t n, int d, std::uint64_t& whole, std::uint64_t& fraction) {
  switch (d) {
    case 0:
      return split_fixed<0>(n, whole, fraction);
    case 1:
      return split_fixed<1>(n, whole, fraction);
    case 2:
      return split_fixed<2>(n, whole, fraction);
    case 3:
      return split_fixed<3>(n, whole, fraction);
    case 4:
      return split_fixed<4>(n, whole, fraction);
    default:
      whole = n / kPowersOfTen[static_cast<std::size_t>(d)];
      fraction = n % kPowersOfTen[static_cast<std::size_t>(d)];
  }
}

[[gnu::noinline]] void write_fixed_wide(char* field, float v, int w, int d) {
  char stack_text[512];
  std::string heap_text;
  char* text = stack_text;
  if (d > 80) {
    heap_text.resize(static_cast<std::size_t>(d) + 420);
    text = heap_text.data();
  }
  bool nonzero = false;
  const std::size_t length = fixed_text(v, d, text, nonzero);
  place(field, w, std::signbit(v) && nonzero, text, length);
}

}  // namespace

void write_fixed(char* field, float v, int w, int d) {
  const auto bits = std::bit_cast<std::uint32_t>(v);
  const unsigned biased = (bits >> 23) & 0xffu;
  const bool negative = (bits >> 31) != 0;
  if (biased == 0xffu) {
    // An infinity keeps its sign, so that -inf is not mistaken for +inf.
    const bool nan = (bits & 0x7fffffu) != 0;
    place(field, w, negative && !nan, nan ? "nan" : "inf", 3);
    return;
  }
  // |v| = m * 2^e exactly.
  const std::uint64_t m = biased == 0 ? (bits & 0x7fffffu) : ((bits & 0x7fffffu) | 0x800000u);
  const int e = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  if (d > 9 || e > 9) {
    write_fixed_wide(field, v, w, d);
    return;
  }
  // Scale by 10^d and round the binary point away, ties to even: m * 10^d < 2^54, and a shift
  // of at most 9 keeps it below 2^63.
  const std::uint64_t scaled = m * kPowersOfTen[static_cast<std::size_t>(d)];
  std::uint64_t n;
  if (e >= 0) {
    n = scaled << e;
  } else if (e <= -55) {
    n = 0;  // below half a unit of the last decimal
  } else {
    const int s = -e;
    n = scaled >> s;
    const std::uint64_t rest = scaled & ((std::uint64_t{1} << s) - 1);
    const std::uint64_t half = std::uint64_t{1} << (s - 1);
    if (rest > half || (rest == half && (n & 1) != 0)) ++n;
  }
  std::uint64_t whole;
  std::uint64_t fraction;
  split(n, d, whole, fraction);
  // The text is built right-aligned over blanks, so the field is its last w bytes.
  char text[32];
  std::memset(text, ' ', sizeof text);
  char* const end = text + sizeof text;
  char* p;
  if (d == 3) {
    p = end - 4;
    std::memcpy(p, kPointAndThreeDecimals[fraction].data(), 4);
  } else {
    p = fixed_digits_backwards(end, fraction, d);
    *--p = '.';
  }
  p = digits_backwards(p, whole);
  const bool minus = negative && n != 0;
  auto length = static_cast<std::size_t>(end - p);
  const auto width = static_cast<std::size_t>(w);
  if (length + minus == width + 1 && *p == '0') {
    ++p;  // the leading "0" gives way when only it does not fit
    --length;
  }
  if (length + minus > width) {
    std::memset(field, '*', width);
    return;
  }
  if (minus) *--p = '-';
  if (width <= sizeof text) {
    copy_small(field, end - width, width);
  } else {
    place(field, w, false, p, static_cast<std::size_t>(end - p));
  }
}

void write_exponential(char* field, float v, int w, int d) {
  const double value = v;
  if (std::isnan(value) || std::isinf(value)) {
    place(field, w, std::isinf(value) && value < 0, std::isnan(value) ? "nan" : "inf", 3);
    return;
  }
  // 0.d1...dd E+ee: the d significant digits of |v|, the exponent one above printf's.
  const int significant = d > 0 ? d : 1;
  char digits[600];
  const int n = std::snprintf(digits, sizeof digits, "%.*e", significant - 1, std::fabs(value));
  const char* e_mark = std::strchr(digits, 'e');
  int exponent = value == 0.0 ? 0 : std::atoi(e_mark + 1) + 1;
  (void)n;
  char text[700];
  std::size_t length = 0;
  text[length++] = '0';
  text[length++] = '.';
  for (const char* p = digits; p < e_mark && static_cast<int>(length) < d + 2; ++p) {
    if (*p != '.') text[length++] = *p;
  }
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude <= 99) text[length++] = 'E';
  text[length++] = exponent < 0 ? '-' : '+';
  char exponent_digits[16];
  const int k = std::snprintf(exponent_digits, sizeof exponent_digits,
                              magnitude <= 99 ? "%02d" : "%03d", magnitude);
  std::memcpy(text + length, exponent_digits, static_cast<std::size_t>(k));
  length += static_cast<std::size_t>(k);
  const bool nonzero = value != 0.0;
  place(field, w, std::signbit(value) && nonzero, text, length);
}

void write_characters(char* field, const char* item, std::size_t n, std::size_t w) {
  if (w == 0) w = n;
  if (w > n) {
    std::memset(field, ' ', w - n);
    std::memcpy(field + (w - n), item, n);
  } else {
    std::memcpy(field, item, w);
  }
}

std::size_t list_real_text(float v, char (&text)[32]) {
  const double value = v;
  text[0] = ' ';
  text[1] = std::signbit(value) && !std::isnan(value) ? '-' : ' ';
  char* body = text + 2;
  std::size_t length;
  if (value == 0.0) {
    std::memcpy(body, "0.", 2);
    length = 2;
  } else {
    length = static_cast<std::size_t>(std::snprintf(body, 28, "%.9G", std::fabs(value)));
    const bool letter = body[0] >= 'A' && body[0] <= 'Z';
    char* e_mark = static_cast<char*>(std::memchr(body, 'E', length));
    const bool point = std::memchr(body, '.', length) != nullptr;
    if (!letter && !point) {
      if (e_mark == nullptr) {
        body[length++] = '.';
      } else {
        std::memmove(e_mark + 1, e_mark, static_cast<std::size_t>(body + length - e_mark));
        *e_mark = '.';
        ++length;
      }
    }
  }
  return length + 2;
}

}  // namespace recordio
