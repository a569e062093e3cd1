// The list-directed text of a float: blank, sign position, then the "%.9G" body made to show a
// point.
#include <gtest/gtest.h>

#include <string>

#include "recordio/output_editing.h"

namespace recordio {
namespace {

std::string text_of(float v) {
  char text[32];
  return std::string(text, list_real_text(v, text));
}

TEST(ListRealText, RendersTheRunsValuesAndTheReferenceValues) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.005f, "  0.00499999989"},
      {1.0f, "  1."},
      {0.5f, "  0.5"},
      {-2.25f, " -2.25"},
      {123456789.0f, "  123456792."},
      {0.0f, "  0."},
      {-0.0f, " -0."},
      {1e10f, "  1.E+10"},
      {1.5e-7f, "  1.50000005E-07"},
      {-3.0e38f, " -3.00000001E+38"},
      {100.0f, "  100."},
      {__builtin_inff(), "  INF"},
      {-__builtin_inff(), " -INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text_of(c.value), c.text) << "value " << c.value;
  }
}

}  // namespace
}  // namespace recordio
