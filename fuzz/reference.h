// Slow, straightforward references for the fuzz targets' oracles, written from the editing rules
// alone: a file's bytes seen as records, and E and A editing of one field. They share nothing
// with the runtime but the values of the line-end and end-of-file marks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzzref {

inline constexpr int kEof = -1;      // nothing more in the file
inline constexpr int kLineEnd = -2;  // the record's line end, delivered but never used up

// The bytes of a file, seen one position at a time.
class Text {
 public:
  Text(const unsigned char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

  std::size_t size() const { return size_; }

  // What a reader sees at `pos`: an ordinary character, the line end (an LF, or a CR right
  // before an LF), or the end of the file. A CR anywhere else is an ordinary character.
  int at(std::size_t pos) const {
    if (pos >= size_) return kEof;
    const unsigned char c = bytes_[pos];
    if (c == '\n') return kLineEnd;
    if (c == '\r' && pos + 1 < size_ && bytes_[pos + 1] == '\n') return kLineEnd;
    return c;
  }

  // The position just after the next LF at or after `pos`, or npos when the file ends first.
  std::size_t after_line_end(std::size_t pos) const {
    for (; pos < size_; ++pos) {
      if (bytes_[pos] == '\n') return pos + 1;
    }
    return npos;
  }

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  const unsigned char* bytes_;
  std::size_t size_;
};

enum class Outcome { kValue, kEndOfFile, kError };

struct RealField {
  Outcome outcome = Outcome::kValue;
  float value = 0.0f;
  std::size_t next = 0;  // where the next field begins (kValue only)
};

inline bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

// Ew.d with blanks ignored, over the w columns starting at `pos`.
inline RealField read_e(const Text& text, std::size_t pos, int w, int d) {
  RealField field;
  long long correction = -d;
  std::string digits;
  bool negative = false;
  int columns = w;

  const auto look = [&] { return text.at(pos); };
  const auto use = [&] {
    ++pos;
    --columns;
  };
  const auto zero = [&] {
    field.outcome = Outcome::kValue;
    field.value = 0.0f;
    field.next = pos;
    return field;
  };
  const auto fail = [&](Outcome o) {
    field.outcome = o;
    return field;
  };

  // Leading blanks.
  while (columns > 0 && look() == ' ') use();
  if (columns == 0) return zero();
  // The sign of the value.
  if (look() == '+' || look() == '-') {
    negative = look() == '-';
    use();
    if (columns == 0) return zero();
  }
  // Blanks and zeros before the first significant digit.
  while (columns > 0 && (look() == ' ' || look() == '0')) use();
  if (columns == 0) return zero();
  // Integer digits.
  while (columns > 0 && (look() == ' ' || is_digit(look()))) {
    if (look() != ' ') digits += static_cast<char>(look());
    use();
  }
  // Fraction.
  if (columns > 0 && look() == '.') {
    correction += d;
    use();
    while (columns > 0 && (look() == ' ' || is_digit(look()))) {
      const int c = look();
      if (c != ' ') {
        if (!digits.empty() || c != '0') digits += static_cast<char>(c);
        --correction;
      }
      use();
    }
  }
  // Exponent.
  if (columns > 0) {
    const int c = look();
    const bool letter = c == 'E' || c == 'e' || c == 'D' || c == 'd';
    if (letter || c == '+' || c == '-') {
      bool exponent_negative = false;
      if (letter) {
        use();
        while (columns > 0 && look() == ' ') use();
        if (columns > 0 && (look() == '+' || look() == '-')) {
          exponent_negative = look() == '-';
          use();
        }
      } else {
        exponent_negative = c == '-';
        use();
      }
      if (columns == 0) return fail(Outcome::kError);
      if (look() == kEof) return fail(Outcome::kEndOfFile);
      if (!is_digit(look())) return fail(Outcome::kError);
      long long exponent = 0;
      while (columns > 0 && (look() == ' ' || is_digit(look()))) {
        if (look() != ' ') {
          exponent = exponent * 10 + (look() - '0');
          if (exponent > 1'000'000'000LL) exponent = 1'000'000'000LL;
        }
        use();
      }
      if (exponent > 99'999'999 && !digits.empty()) return fail(Outcome::kError);
      correction += exponent_negative ? -exponent : exponent;
    }
  }
  // What stopped the scan early.
  if (columns > 0) {
    const int c = look();
    if (c == kEof) return fail(Outcome::kEndOfFile);
    if (c == ',') {
      ++pos;
    } else if (c != kLineEnd) {
      return fail(Outcome::kError);
    }
  }
  if (digits.empty()) return zero();
  while (digits.back() == '0') {
    digits.pop_back();
    ++correction;
  }
  const std::string decimal = (negative ? "-" : "") + digits + "e" + std::to_string(correction);
  field.outcome = Outcome::kValue;
  field.value = static_cast<float>(std::strtod(decimal.c_str(), nullptr));
  field.next = pos;
  return field;
}

struct TextField {
  Outcome outcome = Outcome::kValue;
  std::string item;  // n characters (kValue only)
  std::size_t next = 0;
};

// Aw into a text item of n characters, column by column: the first w - n columns (when w > n)
// are passed over, the rest are stored, a line end being stored as a blank; when w < n the item
// is filled up with blanks.
inline TextField read_a(const Text& text, std::size_t pos, std::size_t n, std::size_t w) {
  TextField field;
  field.item.assign(n, ' ');
  const std::size_t passed = w > n ? w - n : 0;
  for (std::size_t column = 0; column < w; ++column) {
    const int c = text.at(pos);
    if (c == kEof) {
      field.outcome = Outcome::kEndOfFile;
      return field;
    }
    if (c != kLineEnd) ++pos;
    if (column >= passed) field.item[column - passed] = c == kLineEnd ? ' ' : static_cast<char>(c);
  }
  field.next = pos;
  return field;
}

}  // namespace fuzzref
