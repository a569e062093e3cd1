// The field Fw.d editing makes of a single-precision value, built from the editing rules alone
// and independent of the runtime: the unit tests of F editing, the fixed_output fuzz target and
// the exhaustive check of the rows' fields (editors_verify) all judge the runtime's fields by it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

// The "%#.*f" text of the magnitude into `text` (of `size` bytes); returns its length. `minus`
// tells whether the field gets a minus sign: for a negative value whose text holds a nonzero
// digit, and for negative infinity; never for a NaN.
inline std::size_t fixed_text(float v, int d, char* text, std::size_t size, bool& minus) {
  const double x = v;
  const auto length = static_cast<std::size_t>(std::snprintf(text, size, "%#.*f", d, std::fabs(x)));
  if (std::isnan(x)) {
    minus = false;
  } else if (std::isinf(x)) {
    minus = x < 0;
  } else {
    minus = std::signbit(x) && std::strpbrk(text, "123456789") != nullptr;
  }
  return length;
}

// The text placed in a field of w characters: a leading "0" dropped when it alone does not fit;
// asterisks when the rest does not fit; blanks on the left.
inline void place_fixed_text(const char* text, std::size_t length, bool minus, int w, char* field) {
  const auto width = static_cast<std::size_t>(w);
  std::size_t need = length + (minus ? 1 : 0);
  if (need == width + 1 && text[0] == '0') {
    ++text;
    --length;
    --need;
  }
  if (need > width) {
    std::memset(field, '*', width);
    return;
  }
  std::memset(field, ' ', width - need);
  if (minus) field[width - need] = '-';
  std::memcpy(field + width - length, text, length);
}

// Always w characters.
inline std::string reference_fixed(float v, int w, int d) {
  // The largest finite magnitude has 39 digits before the point.
  std::vector<char> text(static_cast<std::size_t>(d) + 400);
  bool minus;
  const std::size_t length = fixed_text(v, d, text.data(), text.size(), minus);
  std::string field(static_cast<std::size_t>(w), '?');
  place_fixed_text(text.data(), length, minus, w, field.data());
  return field;
}

}  // namespace testing_support
