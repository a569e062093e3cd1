// What a test scenario does with the record I/O runtime: the statements of the run as small
// calls, over the units and formats the run uses. Whether the scenario runs in-process
// (support/fake_files.h) or in a child (support/runtime_child.h) is the test's choice.
#pragma once

#include <string>
#include <string_view>

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

// A list-directed WRITE of one text item to the console.
inline void console_line(const std::string& text) {
  const recordio::cilist c{0, kConsole, 0, nullptr, 0};
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
