// Output editing: values into the characters of a field.
//
// F editing is cut in two: the digits of a value (the text printf's "%#.*f" writes for its
// magnitude, or the platform's text for an infinity or a NaN, and whether a minus sign goes with
// it), then one placement of that text in a field of w characters.
#pragma once

#include <cstddef>

namespace recordio {

// Fw.d of a single-precision value: exactly w characters at `field`.
void write_fixed(char* field, float v, int w, int d);

// The list-directed text of a float: a blank, a blank or minus sign, then the body ("0." for a
// zero, otherwise the "%.9G" text with a point made sure of). Returns its length.
std::size_t list_real_text(float v, char (&text)[32]);

}  // namespace recordio
