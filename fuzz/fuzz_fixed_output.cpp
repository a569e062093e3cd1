// Arbitrary single-precision bit patterns through F editing: every four bytes of the input are a
// value, written under F7.3 and F10.3 (the combined file's fields, by write_fixed and by the
// rows' own editors) and under Fw.d with w 1..100
// and d 0..100 taken from the input's first two bytes. Each field must be exactly w characters
// and equal the reference of tests/support/fixed_reference.h, built from the editing rules alone
// (the unit tests of F editing use it too): printf's "%#.*f" text of the magnitude, a minus sign
// only when a digit other than 0 shows (or for the negative infinity), a leading "0" dropped when
// it alone does not fit, asterisks when the rest does not fit, blanks on the left.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "recordio/output_editing.h"
#include "support/fixed_reference.h"

namespace {

constexpr std::size_t kMaxInput = 4096;
constexpr int kMaxWidth = 100;
constexpr int kMaxDecimals = 100;
constexpr std::size_t kGuard = 16;
constexpr char kGuardByte = '\x01';

// `rows_editor`: the field through the rows' own F editor of that width first, write_fixed only
// where it declines.
void check(float v, int w, int d, bool (*rows_editor)(char*, float) = nullptr) {
  char buffer[kGuard + kMaxWidth + kGuard];
  std::memset(buffer, kGuardByte, sizeof buffer);
  if (rows_editor == nullptr || !rows_editor(buffer + kGuard, v)) {
    recordio::write_fixed(buffer + kGuard, v, w, d);
  }
  const std::string want = testing_support::reference_fixed(v, w, d);
  const std::string got(buffer + kGuard, static_cast<std::size_t>(w));
  bool guards_kept = true;
  for (std::size_t i = 0; i < sizeof buffer; ++i) {
    if ((i < kGuard || i >= kGuard + static_cast<std::size_t>(w)) && buffer[i] != kGuardByte) {
      guards_kept = false;
    }
  }
  if (got != want || !guards_kept) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::fprintf(stderr, "F%d.%d of %08x (%.9g): \"%s\", reference \"%s\"%s\n", w, d, bits,
                 static_cast<double>(v), got.c_str(), want.c_str(),
                 guards_kept ? "" : ", written outside the field");
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const int w = size >= 2 ? 1 + data[0] % kMaxWidth : 10;
  const int d = size >= 2 ? data[1] % (kMaxDecimals + 1) : 3;
  // The values: the input from its start (so that the size bytes are a value's bytes too), four
  // bytes at a time; a last short group is filled up with zero bytes.
  for (std::size_t at = 0; at < size; at += 4) {
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, data + at, size - at < 4 ? size - at : 4);
    std::uint32_t bits = 0;
    for (int k = 3; k >= 0; --k) bits = bits << 8 | bytes[k];
    float v;
    std::memcpy(&v, &bits, sizeof v);
    check(v, 7, 3);
    check(v, 10, 3);
    check(v, 7, 3, recordio::write_three_decimals<7>);
    check(v, 10, 3, recordio::write_three_decimals<10>);
    check(v, w, d);
  }
  return 0;
}
