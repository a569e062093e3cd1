// A field read by the full scan where it stands, to check a faster reading of it against.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "recordio/input_editing.h"

namespace testing_support {

// What the full scan made of a field.
struct FieldScan {
  recordio::EditStatus status;
  std::ptrdiff_t columns;  // the columns it used
  std::uint32_t bits;      // its value's bits, when status is kOk
};

// The full scan of the `width` columns at `text` as an Ew.d field with d = `decimals`, in line:
// the exhaustive check runs it on every text.
inline FieldScan scan_field(const char* text, int width, int decimals) {
  recordio::MemoryCursor cursor{text};
  char digits[recordio::Format::kMaxNumericWidth];
  recordio::DecimalNumber number;
  const recordio::EditStatus status =
      recordio::scan_number(cursor, width, decimals, digits, number);
  if (status != recordio::EditStatus::kOk) return {status, cursor.at - text, 0};
  return {status, cursor.at - text,
          std::bit_cast<std::uint32_t>(recordio::decimal_to_float(number))};
}

}  // namespace testing_support
