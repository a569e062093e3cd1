// The component file reader, seen through the whole program: the header plans, the counts it
// reports, the samples it stores (as they come out in the combined file) and the ways a
// component file stops the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "conversion_component_files.h"
#include "support/process.h"

namespace {

using namespace conversion_testing;

const std::string kOutput = "out.csv";

struct Outcome {
  ProcessResult result;
  std::optional<std::string> csv;  // the output file, when there is one
  std::set<std::string> names;     // what the working directory holds afterwards
};

// Runs the program in a fresh directory prepared by `setup`, answering the name prompt with
// "out.csv".
Outcome convert(const std::function<void(const ScratchDir&)>& setup) {
  ScratchDir dir;
  setup(dir);
  Outcome o;
  o.result = run_program(ProcessOptions{dir.path(), kOutput + "\n", {}, {}, {}});
  if (dir.exists(kOutput)) o.csv = dir.read(kOutput);
  o.names = entries(dir.path());
  return o;
}

Outcome convert(const ComponentFile& c1, const ComponentFile& c2, const ComponentFile& c3) {
  return convert([&](const ScratchDir& dir) { write_components(dir, c1, c2, c3); });
}

// A run that ended on the fatal path before the output file was opened.
void expect_fatal(const Outcome& o, const std::string& console, const std::string& diagnostic) {
  expect_aborted(o.result);
  EXPECT_EQ(o.result.out, console);
  EXPECT_EQ(o.result.err, diagnostic);
  EXPECT_FALSE(o.csv.has_value()) << "an output file was created";
}

// The diagnostic of a failure on unit 11 while it reads component k.
std::string diagnostic(const std::string& failure, int k, const std::string& format,
                       bool writing = false) {
  return testing_support::diagnostic_text(failure, "unit 11 named " + kComponentNames[k - 1],
                                          format, writing);
}

// Component file k with only its header, of `records` records.
ComponentFile header_of(int k, int records) {
  ComponentFile f = component_file(k);
  f.header_records = records;
  return f;
}

// ---- The counts a component reports ----

// Each component is read alike and reports its counts; the last one's nt sets the number of rows:
// none when nt is not positive. (How a READ meets line ends, short records and the end of the
// file is recordio_statements_test's.)
TEST(ComponentCounts, ComponentThreeSetsTheNumberOfRows) {
  struct Case {
    const char* what;
    ComponentFile c3;
    int i;  // data records counted
  };
  const std::string record = numbered_records(3, 1)[0];
  ComponentFile longer = standard(3);
  for (std::string& r : longer.data) r += "  trailing text, not a field: X.Y.Z";
  const Case cases[] = {
      {"three full data records", standard(3), 3},
      {"one data record", component_file(3, {record}), 1},
      {"header only", component_file(3), 0},
      {"blank line after the data", with_blank_line_after(standard(3)), 4},
      {"blank line inside the data", component_file(3, {record, "", record}), 3},
      {"data records longer than 80 columns", longer, 3},
      {"plan A header of 31 records ending with a line end", header_of(3, 31), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = convert(standard(1), standard(2), c.c3);
    expect_completed(o.result);
    EXPECT_EQ(o.result.out, transcript(standard(1), 3, standard(2), 3, c.c3, c.i));
    ASSERT_TRUE(o.csv.has_value());
    const int rows = c.i > 1 ? 8 * c.i - 8 : 0;
    EXPECT_EQ(lines_of(*o.csv).size(), static_cast<std::size_t>(rows));
    EXPECT_EQ(o.csv->size(), static_cast<std::size_t>(rows * 41));
  }
}

// Component 2's header has 33 records, and records 6 and 33 are echoed (every transcript shows
// them); laid out with a 32-record header, its first data record is echoed as record 33 and
// only the other two count.
TEST(ComponentCounts, ComponentTwoIsShiftedByOneRecord) {
  ComponentFile short_header = standard(2);
  short_header.header_records = 32;
  const Outcome shifted = convert(standard(1), short_header, standard(3));
  expect_completed(shifted.result);
  const std::vector<std::string> shifted_lines = lines_of(shifted.result.out);
  ASSERT_EQ(shifted_lines.size(), 18u) << shifted.result.out;
  EXPECT_EQ(shifted_lines[10] + "\n", echo_line(short_header.data[0]));
  EXPECT_EQ(shifted_lines[11], " i,in= 2 17");
  EXPECT_EQ(shifted_lines[12], " nt= 8");
  // y then holds the second and third records from sample 1 on.
  ASSERT_TRUE(shifted.csv.has_value());
  const std::vector<std::string> rows = lines_of(*shifted.csv);
  ASSERT_EQ(rows.size(), 16u);
  for (int row = 1; row <= 16; ++row) {
    EXPECT_EQ(rows[static_cast<std::size_t>(row - 1)] + "\n",
              csv_row(row, sample_value(1, row), sample_value(2, row + 8), sample_value(3, row)))
        << "row " << row;
  }
}

// ---- Echoed header records ----

// How a text READ pads, cuts and ends its record is recordio_statements_test's
// (FormattedRead.TextRecordsArePaddedCutAndEndAtLfOrCrLf), and how a list-directed WRITE shows
// a text ListWrite's; here, the echo line they make together of a record cut at 80 characters.
TEST(ComponentHeader, EchoedRecordIsItsFirstEightyCharactersPadded) {
  ComponentFile c1 = standard(1);
  c1.record6 = std::string(79, 'a') + "bcdefghijklmnopqrstu";
  const Outcome o = convert(c1, standard(2), standard(3));
  expect_completed(o.result);
  const std::vector<std::string> lines = lines_of(o.result.out);
  ASSERT_EQ(lines.size(), 18u) << o.result.out;
  EXPECT_EQ(lines[6], " " + std::string(79, 'a') + "b");
  EXPECT_EQ(lines[7], " i,in= 3 25");
}

// ---- Samples stored ----

TEST(ComponentSamples, FieldsOfALastRecordWithoutLineEndAreStored) {
  struct Case {
    const char* what;
    std::string last;            // the last record, written without a line end
    std::vector<float> samples;  // x(17..24)
  };
  const Case cases[] = {
      {"full record",
       numbered_records(1, 3)[2],
       {sample_value(1, 17), sample_value(1, 18), sample_value(1, 19), sample_value(1, 20),
        sample_value(1, 21), sample_value(1, 22), sample_value(1, 23), sample_value(1, 24)}},
      {"short record of one field", record_of_values({1.5}), {1.5f, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ComponentFile c1 = component_file(1, numbered_records(1, 2));
    c1.data.push_back(c.last);
    c1.final_line_end = false;
    const ComponentFile c3 = component_file(3, numbered_records(3, 4));
    const Outcome o = convert(c1, standard(2), c3);
    expect_completed(o.result);
    const std::vector<std::string> lines = lines_of(o.result.out);
    ASSERT_EQ(lines.size(), 18u) << o.result.out;
    EXPECT_EQ(lines[7], " i,in= 2 17");
    EXPECT_EQ(lines[8], " nt= 8");
    ASSERT_TRUE(o.csv.has_value());
    const std::vector<std::string> rows = lines_of(*o.csv);
    ASSERT_EQ(rows.size(), 24u);
    for (int row = 17; row <= 24; ++row) {
      EXPECT_EQ(rows[static_cast<std::size_t>(row - 1)] + "\n",
                csv_row(row, c.samples[static_cast<std::size_t>(row - 17)], sample_value(2, row),
                        sample_value(3, row)))
          << "row " << row;
    }
  }
}

TEST(ComponentSamples, CrLfRecordsReadLikeLfRecords) {
  const ComponentFile c3 = with_crlf(component_file(
      3, {"       1.5", record_of_values({1, 2, 3, 4, 5, 6, 7, 8}), record_of_values({9})}));
  const ComponentFile c1 = with_blank_line_after(with_crlf(standard(1)));
  const Outcome o = convert(c1, standard(2), c3);
  expect_completed(o.result);
  EXPECT_EQ(o.result.out, transcript(c1, 4, standard(2), 3, c3, 3));
  ASSERT_TRUE(o.csv.has_value());
  std::string expected;
  const float z[16] = {1.5f, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (int row = 1; row <= 16; ++row) {
    expected += csv_row(row, sample_value(1, row), sample_value(2, row), z[row - 1]);
  }
  EXPECT_EQ(*o.csv, expected);
}

// The field rules live with the editors (recordio_input_editing_test) and the record's with the
// statements (recordio_statements_test); here, one record of several forms as the run stores it.
TEST(FieldEditing, ADataRecordIsReadByE10Point4) {
  const std::string record =
      record_of_fields({"1.0", "2.5E-01", "-3", "12345", "", "1 2 3", "-.5", "1.5D+02"});
  const Outcome o =
      convert(component_file(1, {record, numbered_records(1, 2)[1]}), standard(2), standard(3));
  expect_completed(o.result);
  ASSERT_TRUE(o.csv.has_value());
  const std::vector<std::string> rows = lines_of(*o.csv);
  ASSERT_EQ(rows.size(), 16u);
  // 1.0, 0.25, -0.0003 (no sign once rounded to zero), 1.2345, blank, 0.0123, -0.5, 150.
  const char* const expected[8] = {"     1.000", "     0.250", "     0.000", "     1.235",
                                   "     0.000", "     0.012", "    -0.500", "   150.000"};
  for (std::size_t k = 0; k < 8; ++k)
    EXPECT_EQ(column(rows[k], 2), expected[k]) << "x(" << k + 1 << ")";
}

// ---- Component files that stop the run ----

// kFullRecords data records fill the 33000 samples, eight a record.
static_assert(8 * kFullRecords == 33000);

// Component file k with `extra` data records more than the arrays hold.
ComponentFile beyond_capacity(int k, int extra) {
  return component_file(k, numbered_records(k, kFullRecords + extra));
}

// Component file k with one record more than the run keeps: the one it leaves out of nt.
ComponentFile one_beyond(int k) {
  return beyond_capacity(k, 1);
}

struct FatalCase {
  const char* what;
  int k;                              // the failing component
  std::optional<ComponentFile> file;  // none: the file is missing
  int echoes;                         // its header records echoed before the failure
  std::string diagnostic;
};

std::vector<FatalCase> fatal_cases() {
  const std::string open_failure = "open: No such file or directory";
  const auto too_many = [](int k) {
    return diagnostic("read: more than 4125 data records", k, "(8E10.4)");
  };
  std::vector<std::string> records = numbered_records(3, kFullRecords);
  records.push_back(record_of_fields({"1.0", "2.5X"}));
  const ComponentFile malformed_beyond = component_file(3, records);
  return {
      {"component 1 missing", 1, std::nullopt, 0, diagnostic(open_failure, 1, "list io", true)},
      {"component 3 missing", 3, std::nullopt, 0, diagnostic(open_failure, 3, "list io", true)},
      // Files ending inside their header.
      {"empty file", 1, header_of(1, 0), 0, diagnostic("read start: end of file", 1, "list io")},
      {"four records: the fifth skip meets the end", 1, header_of(1, 4), 0,
       diagnostic("read start: end of file", 1, "(a80)")},
      {"five records: record 6 meets the end", 1, header_of(1, 5), 0,
       diagnostic("fmt: end of file", 1, "(a80)")},
      {"five records, the last without a line end", 1, without_final_line_end(header_of(1, 5)), 0,
       diagnostic("read start: end of file", 1, "(a80)")},
      {"six records", 1, header_of(1, 6), 1, diagnostic("read start: end of file", 1, "list io")},
      {"31 records, the last without a line end", 1, without_final_line_end(header_of(1, 31)), 1,
       diagnostic("read start: end of file", 1, "list io")},
      {"component 2 of 32 records: record 33 meets the end", 2, header_of(2, 32), 1,
       diagnostic("fmt: end of file", 2, "(a80)")},
      {"component 2 of 32 records, the last without a line end", 2,
       without_final_line_end(header_of(2, 32)), 1,
       diagnostic("read start: end of file", 2, "(a80)")},
      // Malformed data fields; the end-of-file exit does not catch them.
      {"a letter in a field", 1,
       component_file(1, {numbered_records(1, 1)[0], record_of_fields({"1.0", "1.2X45"})}), 1,
       diagnostic("fmt: read unexpected character", 1, "(8E10.4)")},
      {"a word", 2, component_file(2, {record_of_fields({"", "", "abc"})}), 2,
       diagnostic("fmt: read unexpected character", 2, "(8E10.4)")},
      {"a letter in the last record, which has no line end", 1,
       without_final_line_end(
           component_file(1, {numbered_records(1, 1)[0], record_of_fields({"Q"})})),
       1, diagnostic("fmt: read unexpected character", 1, "(8E10.4)")},
      // Regression: a malformed field beyond the arrays is still read, and still fatal.
      {"a letter in the record beyond the arrays", 3, malformed_beyond, 1,
       diagnostic("fmt: read unexpected character", 3, "(8E10.4)")},
      // Regression: data records beyond the capacity of the sample arrays overran them. A file
      // that holds more than the one record beyond the arrays is refused: its rows would not fit.
      {"component 1 with 4127 records", 1, beyond_capacity(1, 2), 1, too_many(1)},
      {"component 2 with 4127 records", 2, beyond_capacity(2, 2), 2, too_many(2)},
      {"component 3 with 4127 records", 3, beyond_capacity(3, 2), 1, too_many(3)},
      {"component 3 with 4127 records, CR LF", 3, with_crlf(beyond_capacity(3, 2)), 1, too_many(3)},
      {"component 1 with 4126 records and a blank line", 1, with_blank_line_after(one_beyond(1)), 1,
       too_many(1)},
      {"component 3 with 4126 records and a 4127th without a line end", 3,
       without_final_line_end(beyond_capacity(3, 2)), 1, too_many(3)},
  };
}

TEST(ComponentFailures, StopTheRunOnTheFatalPathBeforeAnyOutput) {
  for (const FatalCase& c : fatal_cases()) {
    SCOPED_TRACE(c.what);
    const Outcome o = convert([&](const ScratchDir& dir) {
      for (int k = 1; k <= 3; ++k) {
        if (k != c.k) dir.write(kComponentNames[k - 1], standard(k).bytes());
      }
      if (c.file) dir.write(kComponentNames[c.k - 1], c.file->bytes());
    });
    std::string console = console_before(c.k);
    if (c.echoes >= 1) console += echo_line(c.file->record6);
    if (c.echoes >= 2) console += echo_line(c.file->record33);
    expect_fatal(o, console, c.diagnostic);
    std::set<std::string> expected_names = component_names();
    if (!c.file) expected_names.erase(kComponentNames[c.k - 1]);
    EXPECT_EQ(o.names, expected_names);
  }
}

TEST(ComponentFailures, ComponentFilesAreLeftUnchanged) {
  ScratchDir dir;
  const ComponentFile c1 = without_final_line_end(standard(1));
  const ComponentFile c3 = with_crlf(standard(3));
  write_components(dir, c1, standard(2), c3);
  const ProcessResult r = run_program(ProcessOptions{dir.path(), "out.csv\n", {}, {}, {}});
  EXPECT_EQ(r.exit_code(), 0) << r.err;
  EXPECT_EQ(dir.read(kComponentNames[0]), c1.bytes());
  EXPECT_EQ(dir.read(kComponentNames[1]), standard(2).bytes());
  EXPECT_EQ(dir.read(kComponentNames[2]), c3.bytes());
}

TEST(RegressionArrayOverrun, AFullFileWhoseLastRecordHasNoLineEndReadsNormally) {
  const ComponentFile c3 =
      without_final_line_end(component_file(3, numbered_records(3, kFullRecords)));
  const Outcome o = convert(standard(1), standard(2), c3);
  expect_completed(o.result);
  const std::vector<std::string> lines = lines_of(o.result.out);
  ASSERT_EQ(lines.size(), 18u) << o.result.out;
  EXPECT_EQ(lines[14], " i,in= 4124 32993");
  EXPECT_EQ(lines[15], " nt= 32984");
  ASSERT_TRUE(o.csv.has_value());
  EXPECT_EQ(o.csv->size(), 32984u * 41u);
  EXPECT_EQ(o.csv->substr(o.csv->size() - 41), "164.915,     0.000,     0.000,  8546.000\n");
}

// ---- Regression: a full record with its usual blank last line refused ----

// Component files that fill the arrays read normally. The record after the 4125th is read as any
// other: it counts in i when read through its line end, and lies beyond nt, as the last record
// counted always does.
TEST(RegressionFullRecordWithBlankLastLineRefused, TheRecordBeyondTheArraysIsReadAndLeftOut) {
  struct Case {
    const char* what;
    ComponentFile (*make)(int k);
    const char* counts;  // console lines 15 and 16
    int rows;
    const char* last;  // the last row
  };
  const char* const kLast33000 = "164.995,  8350.000, -8450.000,  8550.000";
  const Case cases[] = {
      {"4125 records", [](int k) { return beyond_capacity(k, 0); },
       " i,in= 4125 33001\n nt= 32992\n", 32992, "164.955,  8348.000, -8448.000,  8548.000"},
      {"4125 records and a blank line",
       [](int k) { return with_blank_line_after(beyond_capacity(k, 0)); },
       " i,in= 4126 33009\n nt= 33000\n", 33000, kLast33000},
      {"4125 records and a blank line, CR LF",
       [](int k) { return with_crlf(with_blank_line_after(beyond_capacity(k, 0))); },
       " i,in= 4126 33009\n nt= 33000\n", 33000, kLast33000},
      {"4126 records", one_beyond, " i,in= 4126 33009\n nt= 33000\n", 33000, kLast33000},
      {"4126 records, the last without a line end",
       [](int k) { return without_final_line_end(one_beyond(k)); },
       " i,in= 4125 33001\n nt= 32992\n", 32992, "164.955,  8348.000, -8448.000,  8548.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ComponentFile files[3];
    for (int k = 1; k <= 3; ++k) files[k - 1] = c.make(k);
    const Outcome o = convert(files[0], files[1], files[2]);
    expect_completed(o.result);
    std::string console = dialogue_head();
    for (int k = 1; k <= 3; ++k) console += echo_lines(k, files[k - 1]) + c.counts;
    EXPECT_EQ(o.result.out, console + dialogue_tail());
    ASSERT_TRUE(o.csv.has_value());
    EXPECT_TRUE(*o.csv == numbered_rows(c.rows))
        << "the combined file differs from the expected " << c.rows << " rows";
    EXPECT_EQ(lines_of(*o.csv).back(), c.last);
  }
}

// ---- Regression: a read error taken for the end of the file ----

TEST(RegressionReadErrorTakenForEndOfFile, AComponentNameThatIsADirectoryIsFatal) {
  for (int failing = 1; failing <= 3; ++failing) {
    SCOPED_TRACE("component " + std::to_string(failing));
    const Outcome o = convert([&](const ScratchDir& dir) {
      for (int k = 1; k <= 3; ++k) {
        if (k == failing) {
          std::filesystem::create_directory(dir / kComponentNames[k - 1]);
        } else {
          dir.write(kComponentNames[k - 1], standard(k).bytes());
        }
      }
    });
    expect_aborted(o.result);
    EXPECT_EQ(o.result.out, console_before(failing));
    const std::vector<std::string> err = lines_of(o.result.err);
    ASSERT_GE(err.size(), 3u) << o.result.err;
    EXPECT_NE(err[0].find("Is a directory"), std::string::npos) << err[0];
    EXPECT_EQ(err[1], "apparent state: unit 11 named " + kComponentNames[failing - 1]);
    EXPECT_FALSE(o.csv.has_value());
  }
}

}  // namespace
