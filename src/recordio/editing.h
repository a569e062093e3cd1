// The editors: characters of a record into values, and values into the characters of a field.
//
// Input editors read from a Source, anything with
//   int peek();   // the next character, kLineEnd at the line end (never consumed), kEndOfFile
//   void take();  // consumes the ordinary character peek() delivered
// so they run over a unit's record as well as over a plain string in tests. They report what
// went wrong and leave the reporting to the statement.
#pragma once

#include <cstddef>
#include <string>

#include "format.h"
#include "unit_table.h"

namespace recordio {

enum class EditStatus { kOk, kEndOfFile, kUnexpected };

// --- Input

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

// The decimal number sign * digits * 10^exponent, converted to double precision correctly
// rounded and then rounded to single precision. `digits` holds at least one digit, the first one
// not zero.
float decimal_to_float(bool negative, const char* digits, int count, long exponent);

// Ew.d or Fw.d into a single-precision item, blanks in the field ignored.
template <class Source>
EditStatus read_real(Source& in, int w, int d, float& value) {
  char digits[Format::kMaxNumericWidth];
  int count = 0;
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
  const auto zero = [&]() {
    value = 0.0f;
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
    if (c != ' ') digits[count++] = static_cast<char>(c);
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
        if (count != 0 || c != '0') digits[count++] = static_cast<char>(c);
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
    if (c < '0' || c > '9') return c == kEndOfFile ? EditStatus::kEndOfFile : EditStatus::kUnexpected;
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
  while (digits[count - 1] == '0') {
    --count;
    ++correction;
  }
  value = decimal_to_float(negative, digits, count, correction);
  return EditStatus::kOk;
}

// --- Output

// Fw.d of a single-precision value: exactly w characters at `field`.
void write_fixed(char* field, float v, int w, int d);

// Ew.d of a single-precision value: exactly w characters at `field`.
void write_exponential(char* field, float v, int w, int d);

// Aw of a text item of n bytes: exactly w characters at `field` (w = 0 means n).
void write_characters(char* field, const char* item, std::size_t n, std::size_t w);

// The list-directed text of a float: a blank, a blank or minus sign, then the body ("0." for a
// zero, otherwise the "%.9G" text with a point made sure of). Returns its length.
std::size_t list_real_text(float v, char (&text)[32]);

}  // namespace recordio
