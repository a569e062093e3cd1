#include "output_editing.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

// "00" to "99", for writing digits two at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> p{};
  for (int i = 0; i < 100; ++i) {
    p[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    p[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return p;
}();

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

void put_pair(char* at, std::uint64_t v) {
  std::memcpy(at, &kDigitPairs[static_cast<std::size_t>(2 * v)], 2);
}

// Writes the decimal digits of v backwards, ending just before `end`; returns the first digit.
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

// Copies n bytes with fixed-size moves the compiler keeps inline where n is at most 32.
void copy_small(char* to, const char* from, std::size_t n) {
  if (n > 32) {
    std::memcpy(to, from, n);
  } else if (n >= 16) {
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

// The buffer of the short path: its text (at most 10 digits before the point, the point and at
// most 9 decimals) with the w bytes before its end for fields of up to kShortWidth.
constexpr std::size_t kShortText = 64;
constexpr int kShortWidth = 32;

// The "%#.*f" text of m * 2^e for d <= 9 and e <= 9, built to end just before `end`: the value
// scaled by 10^d and rounded to an integer exactly, ties to even as printf rounds them, then
// written from digit tables. m * 10^d < 2^54, and a shift of at most 9 keeps it below 2^63.
FixedText short_fixed_text(std::uint64_t m, int e, bool negative, int d, char* end) {
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
  char* p;
  if (d == 3) {
    p = end - 4;
    std::memcpy(p, kPointAndThreeDecimals[n % 1000].data(), 4);
    p = digits_backwards(p, n / 1000);
  } else {
    const std::uint64_t scale = kPowersOfTen[static_cast<std::size_t>(d)];
    p = fixed_digits_backwards(end, n % scale, d);
    *--p = '.';
    p = digits_backwards(p, n / scale);
  }
  return {p, static_cast<std::size_t>(end - p), negative && n != 0};
}

// Fw.d for huge magnitudes, many decimals and wide fields: the standard library's exact
// conversion, which rounds as printf's "%#.*f" does, after w + 1 blanks.
[[gnu::noinline]] void write_fixed_wide(char* field, float v, int w, int d) {
  const auto room = static_cast<std::size_t>(w) + 1;
  // The largest finite magnitude has 39 digits before the point.
  std::string buffer(room + static_cast<std::size_t>(d) + 48, ' ');
  char* const text = buffer.data() + room;
  const std::to_chars_result r =
      std::to_chars(text, buffer.data() + buffer.size(), static_cast<double>(std::fabs(v)),
                    std::chars_format::fixed, d);
  auto length = static_cast<std::size_t>(r.ptr - text);
  if (d == 0) text[length++] = '.';
  bool nonzero = false;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] >= '1' && text[i] <= '9') nonzero = true;
  }
  place_fixed(field, w, {text, length, std::signbit(v) && nonzero});
}

}  // namespace

void place_fixed(char* field, int w, const FixedText& t) {
  const auto width = static_cast<std::size_t>(w);
  char* text = t.text;
  std::size_t length = t.length;
  std::size_t need = length + (t.minus ? 1 : 0);
  if (need == width + 1 && text[0] == '0') {
    *text++ = ' ';  // the leading "0" gives way when only it does not fit
    --length;
    --need;
  }
  if (need > width) {
    std::memset(field, '*', width);
    return;
  }
  if (t.minus) text[-1] = '-';
  copy_small(field, text + length - width, width);
}

void write_fixed(char* field, float v, int w, int d) {
  const auto bits = std::bit_cast<std::uint32_t>(v);
  const unsigned biased = (bits >> 23) & 0xffu;
  const bool negative = (bits >> 31) != 0;
  // |v| = m * 2^e exactly.
  const std::uint64_t m = biased == 0 ? (bits & 0x7fffffu) : ((bits & 0x7fffffu) | 0x800000u);
  const int e = biased == 0 ? -149 : static_cast<int>(biased) - 150;
  if (d > 9 || e > 9 || w > kShortWidth) {
    if (biased != 0xffu) {
      write_fixed_wide(field, v, w, d);
      return;
    }
    if (w > kShortWidth) {
      // An infinity or a NaN in a wide field.
      std::memset(field, ' ', static_cast<std::size_t>(w - kShortWidth));
      field += w - kShortWidth;
      w = kShortWidth;
    }
  }
  char buffer[kShortText];
  std::memset(buffer, ' ', sizeof buffer);
  char* const end = buffer + sizeof buffer;
  if (biased == 0xffu) {
    // An infinity keeps its sign, so that -inf is not mistaken for +inf.
    const bool nan = (bits & 0x7fffffu) != 0;
    std::memcpy(end - 3, nan ? "nan" : "inf", 3);
    place_fixed(field, w, {end - 3, 3, negative && !nan});
    return;
  }
  place_fixed(field, w, short_fixed_text(m, e, negative, d, end));
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
