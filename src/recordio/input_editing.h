// Input editing: A editing of text items, and the full scan that reads every Ew.d and Fw.d field
// into a single-precision value (blanks in a field ignored; the number through the one
// conversion of decimal_conversion.h). A data record's fields of the common shape have a faster
// reader of their own (record_reader.h); the scan reads every other field.
//
// The editors read from a Source, anything with
//   int peek();   // the next character, kLineEnd at the line end (never consumed), kEndOfFile
//   void take();  // consumes the ordinary character peek() delivered
// so they run over a unit's record as well as over a plain string in tests. They report what
// went wrong and leave the reporting to the statement.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decimal_conversion.h"
#include "format.h"
#include "unit_table.h"

namespace recordio {

enum class EditStatus { kOk, kEndOfFile, kUnexpected };

// Aw into a text item of n bytes. With w >= n, w - n characters are skipped and the next n
// stored; a line-end mark is stored as a blank. With w < n, w characters are stored and the rest
// of the item is blank-filled.
template <class Source>
EditStatus read_characters(Source& in, char* item, std::size_t n, std::size_t w) {
  const std::size_t skip = w > n ? w - n : 0;
  const std::size_t store = w < n ? w : n;
  for (std::size_t i = 0; i < skip; ++i) {
    const int c = in.peek();
    if (c == kEndOfFile) return EditStatus::kEndOfFile;
    if (c == kLineEnd) break;
    in.take();
  }
  std::size_t i = 0;
  for (; i < store; ++i) {
    const int c = in.peek();
    if (c == kEndOfFile) return EditStatus::kEndOfFile;
    if (c == kLineEnd) break;
    item[i] = static_cast<char>(c);
    in.take();
  }
  for (; i < n; ++i) item[i] = ' ';
  return EditStatus::kOk;
}

// A Source whose upcoming bytes sit in memory can hand them out whole.
template <class Source>
concept BufferedSource = requires(Source& s, std::size_t n) {
  { s.buffered() } -> std::convertible_to<std::string_view>;
  s.skip(n);
};

// Reads bytes known to be in memory, with at least one byte beyond any it delivers, so that a
// CR can be told from a CR LF without asking for more.
struct MemoryCursor {
  const char* at;
  int peek() const {
    const auto c = static_cast<unsigned char>(*at);
    if (c == '\n' || (c == '\r' && at[1] == '\n')) return kLineEnd;
    return c;
  }
  void take() { ++at; }
};

// Scans an Ew.d or Fw.d field character by character, blanks in the field ignored, into the
// number it writes. `digits` receives the significant digits (room for
// Format::kMaxNumericWidth). Kept out of line: the statements stay lean around it.
template <class Source>
[[gnu::noinline]] EditStatus scan_number(Source& in, int w, int d, char* digits,
                                         DecimalNumber& number) {
  int count = 0;
  std::uint64_t mantissa = 0;  // the first 19 digits as a number
  long correction = -d;
  bool negative = false;
  int left = w;  // columns not yet used
  int c = 0;

  // Takes the character in hand and looks at the next one; false when the columns ran out.
  auto advance = [&]() {
    in.take();
    if (--left == 0) return false;
    c = in.peek();
    return true;
  };
  const auto append = [&](int digit) {
    digits[count] = static_cast<char>(digit);
    if (count < 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(digit - '0');
    ++count;
  };
  // A field without significant digits: zero, whatever its sign.
  const auto zero = [&]() {
    number = DecimalNumber{};
    return EditStatus::kOk;
  };

  if (left == 0) return zero();
  c = in.peek();
  while (c == ' ') {
    if (!advance()) return zero();
  }
  if (c == '-' || c == '+') {
    negative = c == '-';
    if (!advance()) return zero();
  }
  while (c == ' ' || c == '0') {
    if (!advance()) return zero();
  }
  bool complete = false;
  while (c == ' ' || (c >= '0' && c <= '9')) {
    if (c != ' ') append(c);
    if (!advance()) {
      complete = true;
      break;
    }
  }
  if (!complete && c == '.') {
    correction += d;
    complete = !advance();
    while (!complete && (c == ' ' || (c >= '0' && c <= '9'))) {
      if (c != ' ') {
        if (count != 0 || c != '0') append(c);
        --correction;
      }
      complete = !advance();
    }
  }
  if (!complete && (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == '+' || c == '-')) {
    bool exponent_negative = false;
    if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      if (!advance()) return EditStatus::kUnexpected;
    } else {
      if (!advance()) return EditStatus::kUnexpected;
      while (c == ' ') {
        if (!advance()) return EditStatus::kUnexpected;
      }
      if (c == '+' || c == '-') {
        exponent_negative = c == '-';
        if (!advance()) return EditStatus::kUnexpected;
      }
    }
    if (c < '0' || c > '9')
      return c == kEndOfFile ? EditStatus::kEndOfFile : EditStatus::kUnexpected;
    long exponent = 0;
    while (c == ' ' || (c >= '0' && c <= '9')) {
      if (c != ' ' && exponent <= 99'999'999) exponent = exponent * 10 + (c - '0');
      if (!advance()) {
        complete = true;
        break;
      }
    }
    if (exponent > 99'999'999 && count != 0) return EditStatus::kUnexpected;
    correction += exponent_negative ? -exponent : exponent;
  }
  if (!complete) {
    // The scan stopped early: only the line end or a comma may stop it.
    if (c == kEndOfFile) return EditStatus::kEndOfFile;
    if (c == ',') {
      in.take();
    } else if (c != kLineEnd) {
      return EditStatus::kUnexpected;
    }
  }
  if (count == 0) return zero();
  number.mantissa = mantissa;
  number.power = correction;
  number.digits = digits;
  number.digit_count = count;
  number.negative = negative;
  number.too_many_digits = count > 19;
  return EditStatus::kOk;
}

// Ew.d or Fw.d into a single-precision item by the full scan; from memory, with no refill checks,
// where the field and the byte after it (which tells a CR from a CR LF) are there whole.
template <class Source>
[[gnu::noinline]] EditStatus read_real(Source& in, int w, int d, float& value) {
  DecimalNumber number;
  char digits[Format::kMaxNumericWidth];
  EditStatus status;
  if constexpr (BufferedSource<Source>) {
    const std::string_view bytes = in.buffered();
    if (bytes.size() > static_cast<std::size_t>(w)) {
      MemoryCursor cursor{bytes.data()};
      status = scan_number(cursor, w, d, digits, number);
      in.skip(static_cast<std::size_t>(cursor.at - bytes.data()));
    } else {
      status = scan_number(in, w, d, digits, number);
    }
  } else {
    status = scan_number(in, w, d, digits, number);
  }
  if (status == EditStatus::kOk) value = decimal_to_float(number);
  return status;
}

}  // namespace recordio
