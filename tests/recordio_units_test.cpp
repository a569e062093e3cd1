// Units and the statements over them, in-process through a fake of the file layer: failures of
// every call a unit makes, short and interrupted transfers, rows and records built in the buffer,
// items a format cannot take, and units beyond the table's blocks. The fatal path unwinds to the
// test, which reads the diagnostic from the fake standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "recordio/recordio.h"
#include "recordio/runtime.h"
#include "support/diagnostics.h"
#include "support/fake_files.h"
#include "support/statements.h"

namespace recordio {
namespace {

using namespace recordio_testing;
using testing_support::Crashed;
using testing_support::diagnostic_text;
using testing_support::FakeFiles;
using testing_support::InProcessRuntime;

// ---- Failures of the file layer, each reported on the fatal path with the unit it concerns

struct CallFailure {
  const char* what;
  FakeFiles::Operation operation;
  int error;
  bool would_block;  // every transfer first answers that it would block
  void (*scenario)();
  std::string expected;
};

void write_two_rows_and_close() {
  open_file(kFileUnit, text80("out.csv"), "unknown");
  write_the_row(kFileUnit);
  write_the_row(kFileUnit);
  close_file(kFileUnit);
}

void read_a_line() {
  open_file(kFileUnit, text80("in.txt"), "old");
  read_line(kFileUnit);
}

// A record longer than the unit's buffer, which goes out in the statement.
void write_a_long_record() {
  open_file(kFileUnit, text80("out.txt"), "unknown");
  console_line(std::string(2 * Unit::kBufferSize, 'x'), kFileUnit);
}

void write_a_row_through_standard_output() {
  open_file(kFileUnit, text80("/dev/stdout"), "unknown");
  write_the_row(kFileUnit);
  close_file(kFileUnit);
}

TEST(UnitFailures, EachFailingCallTakesTheFatalPath) {
  const CallFailure cases[] = {
      {"a write of the rows", FakeFiles::kWrite, EIO, false, write_two_rows_and_close,
       diagnostic_text("write: Input/output error", "unit 11 named out.csv", "", true)},
      {"the wait after a write that would block", FakeFiles::kWait, EIO, true,
       write_two_rows_and_close,
       diagnostic_text("write: Input/output error", "unit 11 named out.csv", "", true)},
      {"a write of a record longer than the buffer", FakeFiles::kWrite, EIO, false,
       write_a_long_record,
       diagnostic_text("write: Input/output error", "unit 11 named out.txt", "list io", true)},
      {"the cut at CLOSE", FakeFiles::kCut, EIO, false, write_two_rows_and_close,
       diagnostic_text("endfile: truncation failed in endfile", "unit 11 named out.csv", "", true)},
      {"the close itself", FakeFiles::kClose, EIO, false, write_two_rows_and_close,
       diagnostic_text("close: Input/output error", "unit 11 named out.csv", "", true)},
      {"the open", FakeFiles::kOpen, EACCES, false, write_two_rows_and_close,
       diagnostic_text("open: Permission denied", "unit 11 named out.csv", "list io", true)},
      {"the look at the file opened", FakeFiles::kDescribe, EIO, false, write_two_rows_and_close,
       diagnostic_text("open: Input/output error", "unit 11 named out.csv", "list io", true)},
      {"the look-up of a file to read", FakeFiles::kLookUp, EACCES, false, read_a_line,
       diagnostic_text("open: Permission denied", "unit 11 named in.txt", "list io", true)},
      {"the copy of standard output for the rows", FakeFiles::kDuplicate, EMFILE, false,
       write_a_row_through_standard_output,
       diagnostic_text("open: Too many open files", "unit 11 named /dev/stdout", "list io", true)},
      {"a read of a record", FakeFiles::kRead, EIO, false, read_a_line,
       diagnostic_text("read: Input/output error", "unit 11 named in.txt", "(a80)", false)},
      {"the wait after a read that would block", FakeFiles::kWait, EIO, true, read_a_line,
       diagnostic_text("read: Input/output error", "unit 11 named in.txt", "(a80)", false)},
  };
  for (const CallFailure& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.files["in.txt"] = "a record\n";
    fake.stream_names["/dev/stdout"] = kStandardOutput;
    console_line("before");  // makes the list-directed WRITE the last statement
    fake.transfers_would_block = c.would_block;
    fake.fail(c.operation, c.error);
    EXPECT_THROW(c.scenario(), Crashed);
    EXPECT_EQ(fake.err, c.expected);
    // A failure is reported at once: only a file that would block is waited for.
    EXPECT_EQ(fake.count(FakeFiles::kWait) != 0, c.would_block);
    EXPECT_EQ(fake.out, lines(" before\n"))
        << "pending console output is written on the fatal path";
    EXPECT_EQ(fake.files["in.txt"], "a record\n") << "a file only read is never changed";
  }
}

TEST(UnitFailures, AFailedConsoleWriteIsReportedAgainstTheConsole) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.files["in.txt"] = "name\n";
  console_line("the prompt");
  fake.fail(FakeFiles::kWrite, ENOSPC);
  // Reading standard input first writes out the console, so that the prompt shows.
  EXPECT_THROW(read_line(5), Crashed);
  EXPECT_EQ(fake.err,
            diagnostic_text("write: No space left on device", "unit 6 (unnamed)", "(a80)", false));
}

// ---- Transfers the file layer shortens, interrupts or answers "would block"

// One byte at a time, the CR of each CR LF ends one read and its LF begins the next: still one
// line end.
TEST(UnitTransfers, ShortInterruptedAndBlockedTransfersLoseNothing) {
  struct Case {
    const char* what;
    std::size_t most;
    bool interrupt;
    bool would_block;  // a descriptor left non-blocking: waited for, then tried again
  };
  for (const Case& c :
       {Case{"whole", static_cast<std::size_t>(-1), false, false},
        Case{"one byte at a time", 1, false, false}, Case{"interrupted", 7, true, false},
        Case{"would block first", 7, false, true}}) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.files["in.txt"] = "first\r\nsecond\n\r\nlone\rcr\r\n";
    fake.files["out.csv"] = std::string(500, 'q');
    fake.most_per_transfer = c.most;
    fake.interrupt_transfers = c.interrupt;
    fake.transfers_would_block = c.would_block;
    open_file(kFileUnit, text80("in.txt"), "old");
    EXPECT_EQ(read_line(kFileUnit), "first");
    EXPECT_EQ(read_line(kFileUnit), "second");
    EXPECT_EQ(read_line(kFileUnit), "");
    EXPECT_EQ(read_line(kFileUnit), "lone\rcr") << "a CR without an LF is a character";
    EXPECT_EQ(read_line(kFileUnit, true), "item -1");
    close_file(kFileUnit);
    write_two_rows_and_close();
    EXPECT_EQ(fake.files["out.csv"], lines(std::string(kRow) + "\n" + kRow + "\n"));
    console_line("done");
    recordio::runtime().units.flush_console();
    EXPECT_EQ(fake.out, lines(" done\n"));
    EXPECT_EQ(fake.err, "");
    if (c.interrupt) {
      EXPECT_GT(fake.count(FakeFiles::kWrite), 2);
    }
    // Each read and write would block once before it moves: every one of them was waited for.
    EXPECT_EQ(
        fake.count(FakeFiles::kWait),
        c.would_block ? (fake.count(FakeFiles::kRead) + fake.count(FakeFiles::kWrite)) / 2 : 0);
  }
}

// ---- Rows built whole in the buffer

// A row's statement makes room for the whole row before its first field: the buffer is written
// out when the row would not fit, so that every write ends with a whole row, as many as a
// buffer holds, and the file is every row once.
TEST(UnitRows, EveryWriteOfTheRowsEndsWithAWholeRow) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  constexpr int kRows = 5000;
  open_file(kFileUnit, text80("out.csv"), "unknown");
  for (int k = 0; k < kRows; ++k) write_the_row(kFileUnit);
  close_file(kFileUnit);
  std::string expected;
  for (int k = 0; k < kRows; ++k) expected += lines(std::string(kRow) + "\n");
  EXPECT_EQ(fake.files["out.csv"], expected);
  constexpr std::size_t kRowBytes = sizeof kRow - 1 + kWrittenLineEnd.size();  // and the line end
  // Rows go in while the room left exceeds a row: 1598 rows of 41 bytes in 64 KiB (1560 of 42
  // where the line end is CR LF).
  constexpr std::size_t kRowsABufferHolds = (Unit::kBufferSize - kRowBytes - 1) / kRowBytes + 1;
  const std::vector<std::size_t> full_buffers(kRows / kRowsABufferHolds,
                                              kRowsABufferHolds * kRowBytes);
  std::vector<std::size_t> expected_sizes = full_buffers;
  expected_sizes.push_back(kRows % kRowsABufferHolds * kRowBytes);
  EXPECT_EQ(fake.write_sizes, expected_sizes);
}

// A WRITE on the unit the last WRITE used starts without looking the unit up again. Whatever
// happened to the unit since (a READ, a CLOSE, an OPEN) makes the next WRITE start in full: the
// read-ahead given back, the new connection's mode checked.
TEST(UnitRows, AWriteAfterAReadCloseOrOpenStartsInFull) {
  const std::string line(50, 'L');
  {
    SCOPED_TRACE("a READ between two WRITEs on one unit");
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.files["mixed.txt"] = line + "1\n" + line + "2\n" + line + "3\n" + line + "4\n";
    open_file(kFileUnit, text80("mixed.txt"), "old");
    EXPECT_EQ(read_line(kFileUnit), line + "1");
    // The file is cut where the row goes, right after line 1: the row written is its last record.
    write_the_row(kFileUnit);
    EXPECT_EQ(fake.files["mixed.txt"], line + "1\n") << "cut before the row is written out";
    EXPECT_EQ(read_line(kFileUnit, true), "item -1") << "nothing follows the row";
    write_the_row(kFileUnit);
    close_file(kFileUnit);
    EXPECT_EQ(fake.files["mixed.txt"],
              line + "1\n" + lines(std::string(kRow) + "\n" + kRow + "\n"));
  }
  {
    SCOPED_TRACE("CLOSE with no OPEN after it");
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    open_file(kFileUnit, text80("out.csv"), "unknown");
    write_the_row(kFileUnit);
    close_file(kFileUnit);
    EXPECT_THROW(write_the_row(kFileUnit), Crashed);
    EXPECT_EQ(fake.err, diagnostic_text("write start: unit not connected", "unit 11 (unnamed)",
                                        kFormat2000, true));
    EXPECT_EQ(fake.files["out.csv"], lines(std::string(kRow) + "\n"));
  }
  for (const bool close_first : {true, false}) {
    SCOPED_TRACE(close_first ? "CLOSE, then OPEN of a read-only file" : "OPEN over the unit");
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.files["ro.txt"] = "read only\n";
    fake.read_only.insert("ro.txt");
    open_file(kFileUnit, text80("out.csv"), "unknown");
    write_the_row(kFileUnit);
    if (close_first) close_file(kFileUnit);
    open_file(kFileUnit, text80("ro.txt"), "old");
    EXPECT_THROW(write_the_row(kFileUnit), Crashed);
    EXPECT_EQ(fake.err, diagnostic_text("write start: can't write file", "unit 11 named ro.txt",
                                        kFormat2000, true));
    EXPECT_EQ(fake.files["ro.txt"], "read only\n");
    EXPECT_EQ(fake.files["out.csv"], lines(std::string(kRow) + "\n"));
  }
}

// A failure a statement noted without reporting it (the console written out when a READ's end
// read more of standard input) is reported at the next WRITE's start, before its row is built.
TEST(UnitRows, AFailureNotedBeforeARowIsReportedBeforeTheRowIsWritten) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  fake.input = "a name\n";
  open_file(kFileUnit, text80("out.csv"), "unknown");
  console_line("prompt");
  fake.fail(FakeFiles::kWrite, EPIPE);
  EXPECT_EQ(skip_record(5), "end 0");
  // Values every field of which the rows' editor writes in place.
  EXPECT_THROW(write_row(kFileUnit, 1.0f, 2.0f, 3.0f, 4.0f), Crashed);
  EXPECT_EQ(fake.err, diagnostic_text("write: Broken pipe", "unit 6 (unnamed)", kFormat2000, true));
  EXPECT_EQ(fake.files["out.csv"], "") << "the row was not written";
}

// ---- Records built in place in the buffer: records that cross its end, and one longer than the
// whole buffer, reach the file whole and in order.

TEST(RecordsInTheBuffer, RecordsOfEveryLengthReachTheFileWholeAndInOrder) {
  struct Case {
    const char* what;
    std::size_t length;
    int count;
  };
  const std::size_t buffer = Unit::kBufferSize;
  for (const Case& c : {Case{"rows that cross the end of the buffer", 40, 5000},
                        Case{"records of a third of the buffer", buffer / 3, 7},
                        Case{"a record as long as the buffer", buffer, 2},
                        Case{"records longer than the buffer", 2 * buffer + 17, 3}}) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    open_file(kFileUnit, text80("out.txt"), "unknown");
    std::string expected;
    for (int k = 0; k < c.count; ++k) {
      const std::string text(c.length, static_cast<char>('a' + k % 26));
      console_line(text, kFileUnit);
      expected += lines(" " + text + "\n");
    }
    close_file(kFileUnit);
    EXPECT_TRUE(runtime.files().files["out.txt"] == expected)
        << runtime.files().files["out.txt"].size() << " bytes instead of " << expected.size();
  }
}

// On a terminal every row is written as it ends: a write that fails there is reported with the
// row's format, as any failure inside the statement is.
TEST(RecordsInTheBuffer, AFailedWriteAtTheEndOfARowNamesItsFormat) {
  InProcessRuntime runtime;
  runtime.files().console_is_terminal = true;
  recordio::runtime().units.preconnect();
  runtime.files().fail(testing_support::FakeFiles::kWrite, EIO);
  EXPECT_THROW(write_the_row(kConsole), testing_support::Crashed);
  EXPECT_EQ(runtime.files().err,
            diagnostic_text("write: Input/output error", "unit 6 (unnamed)", kFormat2000, true));
}

// ---- Items a format cannot take

// A statement transfers at most as many items as its format has data items, and only to edits
// its direction has; a READ's format holds no literal. Anything else stops the run: an item
// beyond the format (whether the READ read its record's fields together or one by one, and on
// output), an item before any formatted statement, an E item on output, a literal on input.
TEST(FormatItems, ItemsTheFormatCannotTakeAreFatal) {
  static const std::string record =
      "  12.34567 -1.234567    0.1234       150  99.99999   -0.0001    "
      "1.2345   -45.678";
  static constexpr char kOneField[] = "(E10.4)";
  static constexpr char kLiteralRead[] = "('x',E10.4)";
  struct Case {
    const char* what;
    std::string file;    // in.txt, opened on the file unit to read; out.csv to write
    const char* format;  // of the statement started first; nullptr: none is
    bool writing;
    int items;
    std::string expected;
  };
  const Case cases[] = {
      {"a ninth item of a record read together", record + "\n", kFormat1000, false, 9,
       diagnostic_text("fmt: error in format", "unit 11 named in.txt", kFormat1000, false)},
      {"a ninth item of a record read field by field", "1.2345E+01" + record.substr(10) + "\n",
       kFormat1000, false, 9,
       diagnostic_text("fmt: error in format", "unit 11 named in.txt", kFormat1000, false)},
      {"an item before any formatted statement", record + "\n", nullptr, false, 1,
       diagnostic_text("fmt: error in format", "unit 11 named in.txt", "", false)},
      {"a fifth item of a row", "", kFormat2000, true, 5,
       diagnostic_text("fmt: error in format", "unit 11 named out.csv", kFormat2000, true)},
      {"an E item on output", "", kOneField, true, 1,
       diagnostic_text("fmt: formatted output is F editing only", "unit 11 named out.csv",
                       kOneField, true)},
      {"a literal in a READ's format", "1.5\n", kLiteralRead, false, 0,
       diagnostic_text("fmt: error in format", "unit 11 named in.txt", kLiteralRead, false)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InProcessRuntime runtime;
    FakeFiles& fake = runtime.files();
    fake.files["in.txt"] = c.file;
    open_file(kFileUnit, text80(c.writing ? "out.csv" : "in.txt"), c.writing ? "unknown" : "old");
    float values[9] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
    const auto statement = [&] {
      const cilist control{0, kFileUnit, 0, c.format, 0};
      if (c.format != nullptr) c.writing ? s_wsfe(&control) : s_rsfe(&control);
      for (int k = 0; k < c.items; ++k) do_fio(1, &values[k], sizeof(float));
    };
    EXPECT_THROW(statement(), Crashed);
    EXPECT_EQ(fake.err, c.expected);
    if (c.items == 9) {
      EXPECT_EQ(values[1], -1.234567f);
      EXPECT_EQ(values[7], -45.678f);
    }
  }
}

// ---- Buffers

// More units connected at once than the table holds blocks for: the rest take theirs from the
// heap, work alike, and give them back at CLOSE (a leak shows under the address checker).
TEST(UnitBlocks, UnitsBeyondTheTablesBlocksWorkAlike) {
  InProcessRuntime runtime;
  FakeFiles& fake = runtime.files();
  constexpr ftnint kNumbers[] = {11, 12, 13};
  static_assert(3 + std::size(kNumbers) > kBlockCount, "0, 5 and 6 hold blocks too");
  const auto name = [](ftnint n) { return "out" + std::to_string(n) + ".csv"; };
  for (int round = 0; round < 2; ++round) {
    for (const ftnint n : kNumbers) open_file(n, text80(name(n)), "unknown");
    for (const ftnint n : kNumbers) write_row(n, 0.005f * static_cast<float>(n), 1, 2, 3);
    for (const ftnint n : kNumbers) close_file(n);
  }
  for (const ftnint n : kNumbers) {
    char row[64];
    std::snprintf(row, sizeof row, "%7.3f,%10.3f,%10.3f,%10.3f\n", 0.005f * static_cast<float>(n),
                  1.0, 2.0, 3.0);
    EXPECT_EQ(fake.files[name(n)], lines(row));
  }
}

}  // namespace
}  // namespace recordio
