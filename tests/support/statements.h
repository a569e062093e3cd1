// What a test scenario does with the record I/O runtime: the statements of the run as small
// calls, over the units and formats the run uses. Whether the scenario runs in-process
// (support/fake_files.h) or in a child (recordio_signal_test) is the test's choice.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "recordio/line_end.h"
#include "recordio/recordio.h"

namespace recordio_testing {

inline constexpr recordio::ftnint kConsole = 6;
inline constexpr recordio::ftnint kFileUnit = 11;
inline constexpr recordio::ftnlen kTextLength = 80;
inline constexpr char kFormatLine[] = "(a80)";
inline constexpr char kFormat1000[] = "(8E10.4)";
// Format 2000 as the conversion stores it: the byte 0x02 delimits the literal comma.
inline constexpr char kFormat2000[] =
    "(F7.3,3("
    "\x02,\x02"
    ",F10.3))";

// The row of format 2000 for t = 0.005, 12.3456, -0.0004 and -1234.5 (write_the_row).
inline constexpr char kRow[] = "  0.005,    12.346,     0.000, -1234.500";
static_assert(sizeof kRow - 1 == 40);

// `text` with each LF made the line end the runtime writes on this platform (CR LF on Windows):
// the bytes of console lines, rows and diagnostics as written.
inline std::string lines(std::string_view text) {
  std::string written;
  for (const char c : text) {
    if (c == '\n') {
      written += recordio::kWrittenLineEnd;
    } else {
      written += c;
    }
  }
  return written;
}

// `s` as an 80-character text, blank-filled.
inline std::string text80(std::string s) {
  s.resize(kTextLength, ' ');
  return s;
}

inline void open_file(recordio::ftnint unit, const std::string& name_text, const char* status) {
  const recordio::olist o{0,       unit, name_text.data(), name_text.size(), status, nullptr,
                          nullptr, 0,    nullptr};
  recordio::f_open(&o);
}

inline void close_file(recordio::ftnint unit) {
  const recordio::cllist c{0, unit, nullptr};
  recordio::f_clos(&c);
}

// A skip READ, with or without an end-of-file exit; its start and end results as "start -1" or
// "end N".
inline std::string skip_record(recordio::ftnint unit, bool end_exit = false) {
  const recordio::cilist c{0, unit, end_exit ? 1 : 0, nullptr, 0};
  if (recordio::s_rsle(&c) != 0) return "start -1";
  return "end " + std::to_string(recordio::e_rsle());
}

// One "(a80)" READ, with or without an end-of-file exit: the text without its trailing blanks (the
// item is preset to '#', so that a character left unset shows), then " end N" when the READ's end
// returned N other than 0; "start -1" or "item -1" where the READ took its exit.
inline std::string read_line(recordio::ftnint unit, bool end_exit = false) {
  const recordio::cilist c{0, unit, end_exit ? 1 : 0, kFormatLine, 0};
  char text[kTextLength];
  std::memset(text, '#', sizeof text);
  if (recordio::s_rsfe(&c) != 0) return "start -1";
  if (recordio::do_fio(1, text, sizeof text) != 0) return "item -1";
  const int end = recordio::e_rsfe();
  std::string line(text, sizeof text);
  line.erase(line.find_last_not_of(' ') + 1);
  return end == 0 ? line : line + " end " + std::to_string(end);
}

// What a data READ stores in an item it does not reach.
inline constexpr float kUntouched = 7.0f;

// The bit patterns of `values`, each after a blank.
inline std::string bits_of(const std::vector<float>& values) {
  std::string text;
  for (const float v : values) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " %08x", std::bit_cast<std::uint32_t>(v));
    text += hex;
  }
  return text;
}

// One "(8E10.4)" READ, with or without an end-of-file exit: "end N", "item K -1" or "start -1",
// then the bit patterns of the eight items (each preset to kUntouched).
inline std::string read_data(recordio::ftnint unit, bool end_exit = true) {
  const recordio::cilist c{0, unit, end_exit ? 1 : 0, kFormat1000, 0};
  std::vector<float> v(8, kUntouched);
  if (recordio::s_rsfe(&c) != 0) return "start -1";
  std::size_t k = 0;
  while (k < v.size() && recordio::do_fio(1, &v[k], sizeof(float)) == 0) ++k;
  const std::string head = k == v.size() ? "end " + std::to_string(recordio::e_rsfe())
                                         : "item " + std::to_string(k + 1) + " -1";
  return head + bits_of(v);
}

// The line read_data gives for a READ that ended with `head` and stored `values`, the items
// after them untouched.
inline std::string data_line(const std::string& head, std::vector<float> values) {
  values.resize(8, kUntouched);
  return head + bits_of(values);
}

// A list-directed WRITE of one text item, to the console unless another unit is given.
inline void console_line(const std::string& text, recordio::ftnint unit = kConsole) {
  const recordio::cilist c{0, unit, 0, nullptr, 0};
  recordio::s_wsle(&c);
  recordio::do_lio(recordio::kTypeCharacter, 1, text.data(), text.size());
  recordio::e_wsle();
}

// A row of format 2000.
inline void write_row(recordio::ftnint unit, float t, float x, float y, float z) {
  const recordio::cilist c{0, unit, 0, kFormat2000, 0};
  recordio::s_wsfe(&c);
  recordio::do_fio(1, &t, sizeof t);
  recordio::do_fio(1, &x, sizeof x);
  recordio::do_fio(1, &y, sizeof y);
  recordio::do_fio(1, &z, sizeof z);
  recordio::e_wsfe();
}

// The row shown by kRow.
inline void write_the_row(recordio::ftnint unit) {
  write_row(unit, 0.005f, 12.3456f, -0.0004f, -1234.5f);
}

}  // namespace recordio_testing
