// The field Fw.d editing makes of a single-precision value, built from the editing rules alone
// and independent of the runtime: the unit tests of F editing and the fixed_output fuzz target
// both judge the runtime's fields against it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

// The "%#.*f" text of the magnitude; a minus sign for a negative value whose text holds a nonzero
// digit (and for negative infinity; never for a NaN); a leading "0" dropped when it alone does
// not fit; asterisks when the rest does not fit; blanks on the left. Always w characters.
inline std::string reference_fixed(float v, int w, int d) {
  const double x = v;
  // The largest finite magnitude has 39 digits before the point.
  std::vector<char> buffer(static_cast<std::size_t>(d) + 400);
  std::snprintf(buffer.data(), buffer.size(), "%#.*f", d, std::fabs(x));
  std::string text = buffer.data();
  bool minus;
  if (std::isnan(x)) {
    minus = false;
  } else if (std::isinf(x)) {
    minus = x < 0;
  } else {
    minus = std::signbit(x) && text.find_first_of("123456789") != std::string::npos;
  }
  const auto width = static_cast<std::size_t>(w);
  std::size_t need = text.size() + (minus ? 1 : 0);
  if (need == width + 1 && text[0] == '0') {
    text.erase(0, 1);
    --need;
  }
  if (need > width) return std::string(width, '*');
  return std::string(width - need, ' ') + (minus ? "-" : "") + text;
}

}  // namespace testing_support
