#include "decimal_conversion.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "format.h"

namespace recordio {

double exact_decimal_to_double(DecimalNumber n) {
  // The digits, "e" and the power: a numeric field holds at most Format::kMaxNumericWidth digits.
  char text[Format::kMaxNumericWidth + 32];
  char* end;
  if (n.too_many_digits) {
    std::memcpy(text, n.digits, static_cast<std::size_t>(n.digit_count));
    end = text + n.digit_count;
  } else {
    end = std::to_chars(text, text + 20, n.mantissa).ptr;
  }
  const long digits_before_point = static_cast<long>(end - text);
  *end++ = 'e';
  end = std::to_chars(end, text + sizeof text, n.power).ptr;
  double magnitude;
  const std::from_chars_result r = std::from_chars(text, end, magnitude);
  if (r.ec == std::errc::result_out_of_range) {
    // Beyond the range of double precision: an infinity above, a zero below.
    magnitude = digits_before_point + n.power > 0 ? HUGE_VAL : 0.0;
  }
  return magnitude;
}

}  // namespace recordio
