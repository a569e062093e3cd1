// Statements of the record I/O runtime run in a child process of their own.
//
// The runtime keeps the unit table and the current statement as process state and ends the
// process on every failure, so a scenario runs in a forked child working in a scratch directory,
// after the runtime's start-up as its process entry does it, and is judged by what the child left
// behind: its standard output and error, its files, how it ended, and a report file the child
// writes with plain system calls, outside the runtime.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "recordio/recordio.h"
#include "support/process.h"

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

// Exit status of a child that could not set its scenario up (not a result of the runtime).
inline constexpr int kSetupFailed = 77;

// --- Running a scenario

// The runtime's start-up as its process entry does it.
inline void start_up() {
  recordio::f_setsig();
  recordio::f_init();
  std::atexit([] { recordio::f_exit(); });
}

// Runs `body` in a child working in `dir`, with no core files, after the runtime's start-up; the
// child STOPs when the body returns. `before_start_up` runs first (redirections, privileges);
// standard input holds `input`.
inline testing_support::ProcessResult run_scenario(
    const testing_support::ScratchDir& dir, const std::function<void()>& body,
    const std::function<void()>& before_start_up = {}, const std::string& input = "") {
  std::fflush(nullptr);  // nothing of the test's own output may reach the child's streams
  return testing_support::run_in_child(
      [&] {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (chdir(dir.path().c_str()) != 0) _exit(kSetupFailed);
        if (before_start_up) before_start_up();
        start_up();
        body();
        recordio::s_stop("", 0);
      },
      input);
}

// A child that ended through abort, as the runtime's fatal path ends it.
inline bool aborted(const testing_support::ProcessResult& r) {
  return r.signaled() && r.signal() == SIGABRT;
}

// A child that stopped normally.
inline bool stopped(const testing_support::ProcessResult& r) {
  return r.exited() && r.exit_code() == 0;
}

// Appends to the child's report file with plain system calls, outside the runtime.
inline void report(const std::string& line) {
  const int fd = ::open("report", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    _exit(123);
  }
  ::close(fd);
}

// --- What the child does

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

// --- A scenario over one file

// What a scenario over one file left behind.
struct FileScenario {
  testing_support::ProcessResult result;
  std::string report;  // the child's report file; empty when it wrote none
};

// Runs `body` in a child working in a fresh directory that holds the file `name` with `content`,
// after opening that file with status "old" on kFileUnit.
inline FileScenario run_on_file(const std::string& name, const std::string& content,
                                const std::function<void()>& body) {
  testing_support::ScratchDir dir;
  dir.write(name, content);
  FileScenario scenario;
  scenario.result = run_scenario(dir, [&] {
    open_file(kFileUnit, text80(name), "old");
    body();
  });
  scenario.report = dir.read("report");
  return scenario;
}

}  // namespace recordio_testing
