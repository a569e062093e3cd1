#include "output_editing.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "decimal_conversion.h"
#include "format.h"
#include "line_end.h"

namespace recordio {
namespace {

using namespace digit_tables;

constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
  std::array<std::uint64_t, 20> p{};
  std::uint64_t v = 1;
  for (std::uint64_t& e : p) {
    e = v;
    v *= 10;
  }
  return p;
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

// Copies n bytes with fixed-size moves the compiler keeps inline where n is at most 32.
[[gnu::always_inline]] inline void copy_small(char* to, const char* from, std::size_t n) {
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

// The digits F editing makes of a value, before placement: `length` characters at `text` (the
// digits before the point, the point, d digits; or "inf" or "nan"), and the sign. The text ends
// a blank-filled area: the w bytes before its end are writable and those before the text are
// blanks, so that the field is the last w bytes once the sign is in place.
struct FixedText {
  char* text;
  std::size_t length;
  bool minus;  // a negative value whose text shows a digit other than "0", or -inf
};

// Places a text in a field of exactly w characters: the leading "0" dropped when it alone does
// not fit, w asterisks when the rest does not fit, otherwise blanks on the left, the sign, the
// text. Every F field goes through here.
[[gnu::always_inline]] inline void place_fixed(char* field, int w, const FixedText& t) {
  const auto width = static_cast<std::size_t>(static_cast<unsigned>(w));
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

// The buffer of the short path: its text (the at most 16 digits of a number below 2^52 and the
// point) within the w bytes before its end, for fields of up to kShortWidth.
constexpr std::size_t kShortText = 32;
constexpr int kShortWidth = 32;
constexpr int kShortDecimals = 8;

// The "%#.*f" text of |v| for d <= 8 when |v| * 10^d is below 2^52, built to end just before
// `end`. The product is exact in double precision (24 bits of the float and at most 27 of 10^8),
// and adding and taking away 2^52 rounds it to an integer exactly, ties to even, as printf
// rounds; the digits then come from tables. False when the value is out of its reach.
bool short_fixed_text(float v, int d, char* end, FixedText& t) {
  const double scaled =
      std::fabs(static_cast<double>(v)) * kExactPowersOfTen[static_cast<std::size_t>(d)];
  if (!(scaled < kTwoTo52)) return false;  // huge, an infinity or a NaN
  const auto n =
      static_cast<std::uint64_t>(static_cast<std::int64_t>((scaled + kTwoTo52) - kTwoTo52));
  const std::uint64_t scale = kPowersOfTen[static_cast<std::size_t>(d)];
  char* p = fixed_digits_backwards(end, n % scale, d);
  *--p = '.';
  p = digits_backwards(p, n / scale);
  t = {p, static_cast<std::size_t>(end - p), std::signbit(v) && n != 0};
  return true;
}

// Fw.d of the values the short path leaves: the standard library's exact conversion, which
// rounds as printf's "%#.*f" does, or the text of an infinity or a NaN.
[[gnu::noinline]] void write_fixed_other(char* field, float v, int w, int d) {
  const auto room = static_cast<std::size_t>(w);
  if (std::isfinite(v) && d >= w) {
    // The point and d digits, even with the leading "0" dropped, are wider than the field.
    std::memset(field, '*', room);
    return;
  }
  // The field's width of blanks, then the text: the largest finite magnitude has 39 digits
  // before the point, and d < w <= kMaxNumericWidth digits follow it.
  char buffer[2 * Format::kMaxNumericWidth + 48];
  std::memset(buffer, ' ', room);
  char* const text = buffer + room;
  std::size_t length;
  bool minus;
  if (std::isfinite(v)) {
    const std::to_chars_result r =
        std::to_chars(text, buffer + sizeof buffer, static_cast<double>(std::fabs(v)),
                      std::chars_format::fixed, d);
    length = static_cast<std::size_t>(r.ptr - text);
    if (d == 0) text[length++] = '.';
    bool nonzero = false;
    for (std::size_t i = 0; i < length; ++i) {
      if (text[i] >= '1' && text[i] <= '9') nonzero = true;
    }
    minus = std::signbit(v) && nonzero;
  } else {
    // An infinity keeps its sign, so that -inf is not mistaken for +inf.
    const bool nan = std::isnan(v);
    std::memcpy(text, nan ? "nan" : "inf", 3);
    length = 3;
    minus = std::signbit(v) && !nan;
  }
  place_fixed(field, w, {text, length, minus});
}

}  // namespace

void write_fixed(char* field, float v, int w, int d) {
  if (d <= kShortDecimals && w <= kShortWidth) {
    char buffer[kShortText];
    std::memset(buffer, ' ', sizeof buffer);
    FixedText t;
    if (short_fixed_text(v, d, buffer + sizeof buffer, t)) {
      place_fixed(field, w, t);
      return;
    }
  }
  write_fixed_other(field, v, w, d);
}

int write_row_field_fixed(char* field, float v, int w) {
  write_fixed(field, v, w, 3);
  return 0;
}

namespace {

// The rows' fields: F7.3 and F10.3, which write_three_decimals writes.
constexpr bool is_row_field(const DataEdit& edit) {
  return edit.code == 'F' && edit.decimals == 3 && (edit.width == 7 || edit.width == 10);
}

}  // namespace

std::size_t row_room(const Format& format) {
  if (format.begin() == format.end()) return 0;
  std::size_t room = format.literal_length() + kWrittenLineEnd.size();
  for (const DataItem& item : std::span(format.begin(), format.end())) {
    if (!is_row_field(item.edit) || item.prefix_length > 1) return 0;
    room += static_cast<std::size_t>(item.edit.width);
  }
  return room;
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
