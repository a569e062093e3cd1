// Output editing: values into the characters of a field.
//
// F editing is cut in two: the digits of a value (the text printf's "%#.*f" writes for its
// magnitude, or the platform's text for an infinity or a NaN, and whether a minus sign goes with
// it), then one placement of that text in a field of w characters.
#pragma once

#include <cstddef>

namespace recordio {

// The digits F editing makes of a value, before placement: `length` characters at `text` (the
// digits before the point, the point, d digits; or "inf" or "nan"), and the sign. The text ends
// a blank-filled area: the w bytes before its end are writable and those before the text
// are blanks, so that the field is the last w bytes once the sign is in place.
struct FixedText {
  char* text;
  std::size_t length;
  bool minus;  // a negative value whose text shows a digit other than "0", or -inf
};

// Places a text in a field of exactly w characters: the leading "0" dropped when it alone does
// not fit, w asterisks when the rest does not fit, otherwise blanks on the left, the sign, the
// text.
void place_fixed(char* field, int w, const FixedText& t);

// Fw.d of a single-precision value: exactly w characters at `field`.
void write_fixed(char* field, float v, int w, int d);

// The list-directed text of a float: a blank, a blank or minus sign, then the body ("0." for a
// zero, otherwise the "%.9G" text with a point made sure of). Returns its length.
std::size_t list_real_text(float v, char (&text)[32]);

}  // namespace recordio
