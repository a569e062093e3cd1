// The runtime's fatal path: the diagnostic on standard error, the closing of every unit, and the
// abnormal end of the process; and the failures that must never pass silently or as the end of
// a file.
//
// The scenarios run in-process over a fake of the file layer (support/fake_files.h): the fatal
// path unwinds to the test through the crash handler, after it has written the diagnostic and
// closed every unit, and a scenario that ends normally ends as STOP ends the process.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "recordio/recordio.h"
#include "support/diagnostics.h"
#include "support/fake_files.h"
#include "support/statements.h"

namespace recordio {
namespace {

using namespace recordio_testing;
using testing_support::FakeFiles;
using testing_support::InProcessRuntime;
using testing_support::lines_of;

std::vector<std::string> diagnostic(const std::string& failure, const std::string& unit_line,
                                    const std::string& format, bool writing) {
  return lines_of(testing_support::diagnostic_text(failure, unit_line, format, writing));
}

// --- The diagnostic

TEST(FatalPath, OpenOldOfAMissingFileAfterAConsoleLine) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  EXPECT_FALSE(runtime.run([] {
    console_line("before");
    open_file(kFileUnit, text80("missing.txt"), "old");
    console_line("after");
  }));
  EXPECT_EQ(lines_of(fake.err), diagnostic("open: No such file or directory",
                                           "unit 11 named missing.txt", "list io", true));
  // Console output pending at the failure is still written.
  EXPECT_EQ(fake.out, " before\n");
  EXPECT_EQ(fake.files.count("missing.txt"), 0u);
}

TEST(FatalPath, EmptyOrBlankFileNameIsANullName) {
  for (const std::string& name : {std::string(), std::string(80, ' '), std::string(" ")}) {
    SCOPED_TRACE("name of " + std::to_string(name.size()) + " characters");
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    EXPECT_FALSE(runtime.run([&] {
      console_line("before");
      open_file(kFileUnit, name, "unknown");
    }));
    EXPECT_EQ(lines_of(fake.err),
              diagnostic("open: null file name", "unit 11 (unnamed)", "list io", true));
    EXPECT_EQ(fake.out, " before\n");
    EXPECT_TRUE(fake.files.empty());
  }
}

TEST(FatalPath, ReadStartAtTheEndOfAFile) {
  struct Case {
    const char* what;
    bool formatted;
    std::string format;
  };
  const Case cases[] = {
      {"skip READ", false, "list io"},
      {"formatted READ", true, kFormatLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    EXPECT_FALSE(runtime.run_on_file("two.txt", "one\ntwo\n", [&] {
      for (int k = 0; k < 3; ++k) skip_record(kFileUnit);
      c.formatted ? read_line(kFileUnit) : skip_record(kFileUnit);
    }));
    EXPECT_EQ(lines_of(runtime.files().err),
              diagnostic("read start: end of file", "unit 11 named two.txt", c.format, false));
  }
}

TEST(FatalPath, EndOfFileInsideATextFieldWithoutAnExit) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  EXPECT_FALSE(runtime.run_on_file("last.txt", "first\nlast", [] {
    console_line(read_line(kFileUnit));
    read_line(kFileUnit);
    console_line("after");
  }));
  EXPECT_EQ(lines_of(fake.err),
            diagnostic("fmt: end of file", "unit 11 named last.txt", kFormatLine, false));
  EXPECT_EQ(fake.out, " first\n");
}

TEST(FatalPath, EndOfStandardInputInsideATextFieldWithoutAnExit) {
  struct Case {
    const char* what;
    std::string input;
  };
  const Case cases[] = {
      {"empty standard input", ""},
      {"name without line end", "out.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.input = c.input;
    EXPECT_FALSE(runtime.run([] {
      console_line("Enter a name");
      read_line(5);
      console_line("after");
    }));
    EXPECT_EQ(lines_of(fake.err),
              diagnostic("fmt: end of file", "unit 5 (unnamed)", kFormatLine, false));
    EXPECT_EQ(fake.out, " Enter a name\n");
  }
}

// An editing error ends the run, in the first field or a later one, at the line end, with or
// without an end-of-file exit; which characters are errors is RealEditing.EditingErrors'.
TEST(FatalPath, UnexpectedCharacterInANumericField) {
  struct Case {
    const char* record;
    bool end_exit;
  };
  const Case cases[] = {
      {"       1.5       x.5", false},
      {"       1.5       x.5", true},
      {"    1.5x", false},
      {"1.5E", false},
      {"1.5;2.5", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("record \"") + c.record + "\"" + (c.end_exit ? " with exit" : ""));
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    EXPECT_FALSE(runtime.run_on_file("data.txt", std::string(c.record) + "\n", [&] {
      read_data(kFileUnit, c.end_exit);
      console_line("after");
    }));
    EXPECT_EQ(lines_of(fake.err), diagnostic("fmt: read unexpected character",
                                             "unit 11 named data.txt", kFormat1000, false));
    EXPECT_EQ(fake.out, "");
  }
}

TEST(FatalPath, FailureTextOfTheCaller) {
  struct Case {
    const char* what;
    bool within_statement;  // the failure comes after the start of a data READ
    std::string format;
  };
  const Case cases[] = {
      {"during a data READ", true, kFormat1000},
      {"after a data READ ended", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    EXPECT_FALSE(runtime.run_on_file("data.txt", "       1.5\n       2.5\n", [&] {
      read_data(kFileUnit, true);
      if (c.within_statement) {
        const cilist data{0, kFileUnit, 1, kFormat1000, 0};
        s_rsfe(&data);
      }
      f_fail("read", "more than 4125 data records");
    }));
    EXPECT_EQ(lines_of(runtime.files().err), diagnostic("read: more than 4125 data records",
                                                        "unit 11 named data.txt", c.format, false));
  }
}

TEST(FatalPath, UnitNumberOutOfRange) {
  struct Case {
    const char* what;
    std::function<void()> statement;
  };
  const Case cases[] = {
      {"WRITE on unit 100",
       [] {
         const cilist c{0, 100, 0, nullptr, 0};
         s_wsle(&c);
         e_wsle();
       }},
      {"READ on unit -1",
       [] {
         const cilist c{0, -1, 0, nullptr, 0};
         s_rsle(&c);
         e_rsle();
       }},
      {"OPEN of unit 100", [] { open_file(100, text80("x.txt"), "unknown"); }},
      {"CLOSE of unit 100",
       [] {
         const cllist c{0, 100, nullptr};
         f_clos(&c);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    EXPECT_FALSE(runtime.run([&] {
      console_line("before");
      c.statement();
      console_line("after");
    }));
    const std::vector<std::string> lines = lines_of(fake.err);
    ASSERT_GE(lines.size(), 3u) << fake.err;
    EXPECT_TRUE(lines[0].ends_with(": illegal unit number")) << lines[0];
    EXPECT_TRUE(lines[1].starts_with("apparent state: unit ")) << lines[1];
    EXPECT_TRUE(lines.back().starts_with("lately ")) << lines.back();
    EXPECT_TRUE(lines.back().ends_with(" sequential formatted external IO")) << lines.back();
    EXPECT_EQ(fake.out, " before\n");
    EXPECT_TRUE(fake.files.empty());
  }
}

// --- Writing to a unit that cannot be written

// (A row to a read-only file, whose diagnostic shows format 2000 with its 0x02 delimiters, is
// UnitRows.AWriteAfterAReadCloseOrOpenStartsInFull's.)
TEST(FatalPath, WriteToAReadOnlyUnit) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.files["ro.txt"] = "read only\n";
  fake.read_only.insert("ro.txt");
  EXPECT_FALSE(runtime.run([] {
    open_file(kFileUnit, text80("ro.txt"), "old");
    console_line("opened");
    const cilist w{0, kFileUnit, 0, nullptr, 0};
    s_wsle(&w);
    e_wsle();
    console_line("after");
  }));
  EXPECT_EQ(lines_of(fake.err),
            diagnostic("write start: can't write file", "unit 11 named ro.txt", "list io", true));
  EXPECT_EQ(fake.out, " opened\n");
  EXPECT_EQ(fake.files["ro.txt"], "read only\n");
}

// --- Closing every unit on the way out

TEST(FatalPath, PendingOutputIsWrittenAndAFileIsCutAtItsPosition) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.files["out.csv"] = std::string(1000, 'q');
  EXPECT_FALSE(runtime.run([] {
    console_line("first");
    open_file(kFileUnit, text80("out.csv"), "unknown");
    write_the_row(kFileUnit);
    write_the_row(kFileUnit);
    console_line("second");
    open_file(12, text80("missing.txt"), "old");
  }));
  EXPECT_EQ(lines_of(fake.err), diagnostic("open: No such file or directory",
                                           "unit 12 named missing.txt", "list io", true));
  EXPECT_EQ(fake.out, " first\n second\n");
  EXPECT_EQ(fake.files["out.csv"], std::string(kRow) + "\n" + kRow + "\n");
}

TEST(FatalPath, AFileOpenedWithoutWritingIsLeftWhole) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.files["in.txt"] = "abc\ndef\n";
  EXPECT_FALSE(runtime.run([] {
    open_file(kFileUnit, text80("in.txt"), "unknown");
    skip_record(kFileUnit);
    f_fail("read", "stop here");
  }));
  EXPECT_EQ(lines_of(fake.err),
            diagnostic("read: stop here", "unit 11 named in.txt", "list io", false));
  EXPECT_EQ(fake.files["in.txt"], "abc\ndef\n");
}

// --- Failures that are never silent

// Output lost to a full device, with the whole diagnostic: the failed write is reported against
// the unit that lost its output, whenever it surfaces. (The whole program meets the real
// /dev/full in conversion_run_test and conversion_stress_test.)
TEST(WriteFailure, AFullDeviceIsReportedAgainstItsUnit) {
  struct Case {
    const char* what;
    bool console;  // standard output is the full device; else the file unit is
    int rows;
    bool close;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"console lines, then STOP", true, 0, false,
       diagnostic("write: No space left on device", "unit 6 (unnamed)", "list io", true)},
      // A formatted statement's format is no longer current once it has ended.
      {"one row, then CLOSE", false, 1, true,
       diagnostic("write: No space left on device", "unit 11 named /dev/full", "", true)},
      {"one row, then STOP", false, 1, false,
       diagnostic("write: No space left on device", "unit 11 named /dev/full", "list io", true)},
      {"more rows than one buffer holds", false, 3000, true,
       diagnostic("write: No space left on device", "unit 11 named /dev/full", kFormat2000, true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.full_devices.insert("/dev/full");
    if (c.console) fake.fail(FakeFiles::kWrite, ENOSPC);  // the console's one write, at STOP
    EXPECT_FALSE(runtime.run([&] {
      if (c.console) {
        console_line("one");
        console_line("two");
        console_line("three");
        return;
      }
      open_file(kFileUnit, text80("/dev/full"), "unknown");
      for (int k = 0; k < c.rows; ++k) write_the_row(kFileUnit);
      if (c.close) close_file(kFileUnit);
      console_line("after");
    })) << "the lost output went unnoticed";
    EXPECT_EQ(lines_of(fake.err), c.lines);
    EXPECT_EQ(fake.out, c.console || c.close ? "" : " after\n");
  }
}

// A directory opens read-only with status old, and reading it fails with a system error: that
// error is the failure, never the end of the file, with or without an end-of-file exit.
TEST(ReadFailure, ReadErrorIsNotEndOfFile) {
  struct Case {
    const char* what;
    std::function<void()> read;
    std::string format;
  };
  const Case cases[] = {
      {"skip READ", [] { skip_record(kFileUnit); }, "list io"},
      {"text READ with an end-of-file exit", [] { read_line(kFileUnit, true); }, kFormatLine},
      {"data READ with an end-of-file exit", [] { read_data(kFileUnit, true); }, kFormat1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.directories.insert("sub");
    EXPECT_FALSE(runtime.run([&] {
      open_file(kFileUnit, text80("sub"), "old");
      console_line("opened");
      c.read();
      console_line("after");
    }));
    EXPECT_EQ(lines_of(fake.err),
              diagnostic("read: Is a directory", "unit 11 named sub", c.format, false));
    EXPECT_EQ(fake.out, " opened\n");
  }
}

TEST(ReadFailure, LookingAheadAtAnUnreadableUnitIsNotTheEndOfIt) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.directories.insert("sub");
  EXPECT_FALSE(runtime.run([] {
    open_file(kFileUnit, text80("sub"), "old");
    console_line(f_at_end(kFileUnit) ? "at end" : "not at end");
  }));
  const std::vector<std::string> lines = lines_of(fake.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines[0].ends_with(": Is a directory")) << lines[0];
  EXPECT_EQ(fake.out, "");
}

}  // namespace
}  // namespace recordio
