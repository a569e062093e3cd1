// Component files and expected console text for tests that run the whole conversion.
//
// A component file is built from its header (32 records for components 1 and 3, 33 for
// component 2), its data records of eight ten-column fields, and the line-end details a file may
// show: CR LF line ends, a missing final line end, a blank line after the data.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/diagnostics.h"
#include "support/piped_run.h"
#include "support/process.h"
#include "support/signal_endings.h"

namespace conversion_testing {

// What every conversion test uses of the support, brought in with this namespace.
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::run_program;
using testing_support::ScratchDir;

inline constexpr int kPlanARecords = 32;  // components 1 and 3: record 6 echoed
inline constexpr int kPlanBRecords = 33;  // component 2: records 6 and 33 echoed
inline constexpr int kFieldWidth = 10;
inline constexpr int kFieldsPerRecord = 8;
inline constexpr int kLineLength = 80;
inline constexpr int kFullRecords = 4125;  // the most data records a component may hold

// The bound on every wait for a run driven through pipes.
inline constexpr std::chrono::milliseconds kPatience{10000};

// For ProcessOptions::before_exec: the standard stream `stream` onto the file `path`, opened with
// `flags`; a child that cannot do so exits with status 125.
inline std::function<void()> stream_onto(int stream, std::string path, int flags) {
  return [stream, path = std::move(path), flags] {
    const int fd = open(path.c_str(), flags);
    if (fd < 0 || dup2(fd, stream) < 0) _exit(125);
  };
}

// The built-in names, component 1 first.
inline const std::string kComponentNames[3] = {"QRV-N00-1.txt", "QRV-N90-1.txt", "QRV-UP-1.txt"};

// One ten-column field holding `text` right-justified.
inline std::string field(const std::string& text) {
  if (text.size() > kFieldWidth)
    throw std::invalid_argument("field wider than ten columns: " + text);
  return std::string(kFieldWidth - text.size(), ' ') + text;
}

// A data record of the given field texts, each right-justified in its ten columns; fewer than
// eight fields make a short record.
inline std::string record_of_fields(const std::vector<std::string>& fields) {
  std::string record;
  for (const std::string& f : fields) record += field(f);
  return record;
}

// A data record of the given values, each printed by "%10.4f".
inline std::string record_of_values(const std::vector<double>& values) {
  std::string record;
  for (double v : values) {
    char text[64];
    std::snprintf(text, sizeof text, "%10.4f", v);
    record += field(text);
  }
  return record;
}

// A header record other than the echoed ones. None of them could be read as a data record, and
// some hold characters that mean something to list-directed input, so that a skip that looked at
// them would show.
inline std::string header_filler(int number) {
  if (number == 3) return "";
  if (number == 12) return "LONG " + std::string(125, '#');
  return "header record " + std::to_string(number) + ": 1.0, 2*3 / 'quoted' \"x\" ABC";
}

struct ComponentFile {
  int header_records = kPlanARecords;
  std::string record6;
  std::string record33;
  std::vector<std::string> data;  // data records, without their line ends
  bool final_line_end = true;     // whether the last record ends with a line end
  bool crlf = false;              // CR LF line ends instead of LF
  bool blank_line_after = false;  // an empty record after the data records

  // The records of the file, in order, without line ends.
  std::vector<std::string> records() const {
    std::vector<std::string> all;
    for (int n = 1; n <= header_records; ++n) {
      if (n == 6) {
        all.push_back(record6);
      } else if (n == 33) {
        all.push_back(record33);
      } else {
        all.push_back(header_filler(n));
      }
    }
    all.insert(all.end(), data.begin(), data.end());
    if (blank_line_after) all.emplace_back();
    return all;
  }

  std::string bytes() const {
    const std::string end = crlf ? "\r\n" : "\n";
    const std::vector<std::string> all = records();
    std::string text;
    for (std::size_t k = 0; k < all.size(); ++k) {
      text += all[k];
      if (k + 1 < all.size() || final_line_end) text += end;
    }
    return text;
  }
};

// The same file with CR LF line ends.
inline ComponentFile with_crlf(ComponentFile file) {
  file.crlf = true;
  return file;
}

// The same file with an empty record after its data records.
inline ComponentFile with_blank_line_after(ComponentFile file) {
  file.blank_line_after = true;
  return file;
}

// The same file with no line end after its last record.
inline ComponentFile without_final_line_end(ComponentFile file) {
  file.final_line_end = false;
  return file;
}

// Component file k (1, 2 or 3) with the header of its plan, recognizable echoed records and the
// given data records.
inline ComponentFile component_file(int k, std::vector<std::string> data = {}) {
  ComponentFile file;
  file.header_records = k == 2 ? kPlanBRecords : kPlanARecords;
  file.record6 = "Record 6 of component " + std::to_string(k) + ": QRV CHANNEL " +
                 std::to_string(k) + "  ACCELERATION CM/SEC/SEC";
  file.record33 = "Record 33 of component " + std::to_string(k) + ": POINTS OF ACCEL DATA (8E10.4)";
  file.data = std::move(data);
  return file;
}

// The value a numbered data set puts into sample `index` (from 1) of component k: distinct per
// component and per sample, exact in single precision, with at most two decimals.
inline float sample_value(int k, int index) {
  const float step = static_cast<float>(index) * 0.25f;
  return k == 2 ? -(200.0f + step) : static_cast<float>(100 * k) + step;
}

// `count` data records of component k holding sample_value(k, 1), sample_value(k, 2), ...
inline std::vector<std::string> numbered_records(int k, int count) {
  std::vector<std::string> records;
  records.reserve(static_cast<std::size_t>(count));
  for (int r = 0; r < count; ++r) {
    std::vector<double> values;
    for (int f = 1; f <= kFieldsPerRecord; ++f) values.push_back(sample_value(k, 8 * r + f));
    records.push_back(record_of_values(values));
  }
  return records;
}

// Writes the three files under their built-in names into `dir`.
inline void write_components(const ScratchDir& dir, const ComponentFile& c1,
                             const ComponentFile& c2, const ComponentFile& c3) {
  dir.write(kComponentNames[0], c1.bytes());
  dir.write(kComponentNames[1], c2.bytes());
  dir.write(kComponentNames[2], c3.bytes());
}

// ---- Expected console text ----

// The console line echoing a header record: a blank, then the record's first 80 characters,
// padded with blanks.
inline std::string echo_line(const std::string& record) {
  std::string text = record.substr(0, kLineLength);
  text.resize(kLineLength, ' ');
  return " " + text + "\n";
}

// The two count lines after `i` data records.
inline std::string count_lines(int i) {
  return " i,in= " + std::to_string(i) + " " + std::to_string(8 * i + 1) +
         "\n nt= " + std::to_string(8 * i - 8) + "\n";
}

// Console lines 1 to 6.
inline std::string dialogue_head() {
  return " Program for Reading CDMG-TYpe Strong Motion Data\n"
         "\n"
         " Enter 1st File Name of 3 Components\n"
         " Enter 2nd File Name of 3 Components\n"
         " Enter 3rd File Name of 3 Components\n"
         "  assumed dt =  0.00499999989\n";
}

// Console lines 17 and 18.
inline std::string dialogue_tail() {
  return "\n Enter Output Acceleration File Name (CSV format)\n";
}

// The lines of component k (1, 2 or 3) that come before its counts.
inline std::string echo_lines(int k, const ComponentFile& file) {
  std::string text = echo_line(file.record6);
  if (k == 2) text += echo_line(file.record33);
  return text;
}

// The whole console of a complete run, from the number of data records each component counted.
inline std::string transcript(const ComponentFile& c1, int i1, const ComponentFile& c2, int i2,
                              const ComponentFile& c3, int i3) {
  return dialogue_head() + echo_lines(1, c1) + count_lines(i1) + echo_lines(2, c2) +
         count_lines(i2) + echo_lines(3, c3) + count_lines(i3) + dialogue_tail();
}

// ---- Expected rows of the combined file ----

// A row of the combined file with its line end, for values that fit their fields and do not
// round to a negative zero (printf's fixed-point text is then the row's field text). Its time is
// (row - 1) times the single-precision sample interval, rounded once.
inline std::string csv_row(int row, float x, float y, float z) {
  char text[128];
  std::snprintf(text, sizeof text, "%7.3f,%10.3f,%10.3f,%10.3f\n",
                static_cast<double>(static_cast<float>(row - 1) * 0.005f), static_cast<double>(x),
                static_cast<double>(y), static_cast<double>(z));
  return text;
}

// The first `rows` rows of component files holding numbered data records (numbered_records), all
// three at least as long as the rows.
inline std::string numbered_rows(int rows) {
  std::string text;
  text.reserve(static_cast<std::size_t>(rows) * 41);
  for (int row = 1; row <= rows; ++row) {
    text += csv_row(row, sample_value(1, row), sample_value(2, row), sample_value(3, row));
  }
  return text;
}

// ---- The standard run ----

// Component files with three numbered data records each: 16 rows.
inline ComponentFile standard(int k) {
  return component_file(k, numbered_records(k, 3));
}

inline void write_standard(const ScratchDir& dir) {
  write_components(dir, standard(1), standard(2), standard(3));
}

inline std::string standard_transcript() {
  return transcript(standard(1), 3, standard(2), 3, standard(3), 3);
}

// The console of a run of standard component files up to component k, before its first echo.
inline std::string console_before(int k) {
  std::string text = dialogue_head();
  for (int j = 1; j < k; ++j) text += echo_lines(j, standard(j)) + count_lines(3);
  return text;
}

// The 16 rows of the standard component files.
inline const std::string kStandardRows =
    "  0.000,   100.250,  -200.250,   300.250\n"
    "  0.005,   100.500,  -200.500,   300.500\n"
    "  0.010,   100.750,  -200.750,   300.750\n"
    "  0.015,   101.000,  -201.000,   301.000\n"
    "  0.020,   101.250,  -201.250,   301.250\n"
    "  0.025,   101.500,  -201.500,   301.500\n"
    "  0.030,   101.750,  -201.750,   301.750\n"
    "  0.035,   102.000,  -202.000,   302.000\n"
    "  0.040,   102.250,  -202.250,   302.250\n"
    "  0.045,   102.500,  -202.500,   302.500\n"
    "  0.050,   102.750,  -202.750,   302.750\n"
    "  0.055,   103.000,  -203.000,   303.000\n"
    "  0.060,   103.250,  -203.250,   303.250\n"
    "  0.065,   103.500,  -203.500,   303.500\n"
    "  0.070,   103.750,  -203.750,   303.750\n"
    "  0.075,   104.000,  -204.000,   304.000\n";

// The last console line, after which the run reads the output name.
inline const std::string kNamePrompt = " Enter Output Acceleration File Name (CSV format)\n";

// ---- Looking at the results ----

using testing_support::lines_of;

// Field `f` (1..4: time, x, y, z) of a row of the combined file.
inline std::string column(const std::string& row, int f) {
  return f == 1 ? row.substr(0, 7) : row.substr(8 + 11 * static_cast<std::size_t>(f - 2), 10);
}

// The names in a directory.
inline std::set<std::string> entries(const std::filesystem::path& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

// The names of the three component files.
inline std::set<std::string> component_names() {
  return {kComponentNames[0], kComponentNames[1], kComponentNames[2]};
}

// A run that completed: exit status 0 and nothing on standard error.
inline void expect_completed(const ProcessResult& r) {
  testing_support::expect_exit_status(r.status, 0, r.err);
  EXPECT_EQ(r.err, "");
}

// A run that ended through abort.
inline void expect_aborted(const ProcessResult& r) {
  testing_support::expect_end_by_signal(r.status, SIGABRT);
}

// Types `name` as the output name into a run driven through pipes, closes standard input and
// waits for the end of the run, which must exit with status 0 and nothing on standard error.
inline void answer_and_finish(testing_support::PipedRun& run, const std::string& name) {
  ASSERT_TRUE(run.write_input(name));
  run.close_input();
  ASSERT_TRUE(run.finish(kPatience)) << "the run did not end within " << kPatience.count() << " ms";
  testing_support::expect_exit_status(*run.status(), 0, run.err());
  EXPECT_EQ(run.err(), "");
}

}  // namespace conversion_testing
