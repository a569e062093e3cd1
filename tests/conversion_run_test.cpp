// The complete conversion run: the console dialogue, the combined file and its name, and the run
// driven through pipes as an interactive session would drive it.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion_component_files.h"
#include "support/piped_run.h"
#include "support/process.h"
#include "support/signal_endings.h"

namespace {

namespace fs = std::filesystem;
using namespace conversion_testing;
using testing_support::PipedRun;

ProcessResult run_in(const ScratchDir& dir, const std::string& input,
                     std::vector<std::string> args = {}) {
  return run_program(ProcessOptions{dir.path(), input, {}, std::move(args), {}});
}

// Writes the standard component files into `dir` and runs the conversion there.
ProcessResult run_standard(const ScratchDir& dir, const std::string& input,
                           std::vector<std::string> args = {}) {
  write_standard(dir);
  return run_in(dir, input, std::move(args));
}

// A completed run of the standard component files: the whole dialogue on the console.
void expect_standard_run(const ProcessResult& r) {
  expect_completed(r);
  EXPECT_EQ(r.out, standard_transcript());
}

// Writes component files of n1, n2 and n3 numbered data records into `dir` and runs the
// conversion into "out.csv", which must complete with the console those counts give. Returns the
// combined file.
std::string convert_numbered(const ScratchDir& dir, int n1, int n2, int n3) {
  const ComponentFile c1 = component_file(1, numbered_records(1, n1));
  const ComponentFile c2 = component_file(2, numbered_records(2, n2));
  const ComponentFile c3 = component_file(3, numbered_records(3, n3));
  write_components(dir, c1, c2, c3);
  const ProcessResult r = run_in(dir, "out.csv\n");
  expect_completed(r);
  EXPECT_EQ(r.out, transcript(c1, n1, c2, n2, c3, n3));
  return dir.read("out.csv");
}

// ---- The console dialogue ----

TEST(RunDialogue, ACompleteRunShowsEighteenLinesAndWritesEveryRow) {
  ScratchDir dir;
  ComponentFile c1 = standard(1), c2 = standard(2), c3 = standard(3);
  c1.record6 = "Component 1 record 6";
  c2.record6 = "Component 2 record 6";
  c2.record33 = "Component 2 record 33";
  c3.record6 = "Component 3 record 6";
  write_components(dir, c1, c2, c3);
  const ProcessResult r = run_in(dir, "out.csv\n");
  expect_completed(r);
  const std::string expected =
      " Program for Reading CDMG-TYpe Strong Motion Data\n"
      "\n"
      " Enter 1st File Name of 3 Components\n"
      " Enter 2nd File Name of 3 Components\n"
      " Enter 3rd File Name of 3 Components\n"
      "  assumed dt =  0.00499999989\n"
      " Component 1 record 6" +
      std::string(60, ' ') +
      "\n"
      " i,in= 3 25\n"
      " nt= 16\n"
      " Component 2 record 6" +
      std::string(60, ' ') +
      "\n"
      " Component 2 record 33" +
      std::string(59, ' ') +
      "\n"
      " i,in= 3 25\n"
      " nt= 16\n"
      " Component 3 record 6" +
      std::string(60, ' ') +
      "\n"
      " i,in= 3 25\n"
      " nt= 16\n"
      "\n"
      " Enter Output Acceleration File Name (CSV format)\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
  EXPECT_EQ(entries(dir.path()), (std::set<std::string>{kComponentNames[0], kComponentNames[1],
                                                        kComponentNames[2], "out.csv"}));
}

TEST(RunDialogue, TheFirstLineOnStandardInputNamesTheOutput) {
  // The three component prompts read nothing.
  ScratchDir dir;
  const ProcessResult r = run_standard(dir, "first.csv\nsecond.csv\nthird.csv\nfourth.csv\n");
  expect_standard_run(r);
  EXPECT_EQ(dir.read("first.csv"), kStandardRows);
  EXPECT_EQ(entries(dir.path()).size(), 4u);
}

TEST(RunDialogue, CommandLineArgumentsAreIgnored) {
  ScratchDir dir;
  dir.write("a.txt", "1\n2\n3\n");
  const ProcessResult r =
      run_standard(dir, "out.csv\n", {"a.txt", "b.txt", "c.txt", "other.csv", "--help", "-"});
  expect_standard_run(r);
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
  EXPECT_FALSE(dir.exists("other.csv"));
  EXPECT_EQ(dir.read("a.txt"), "1\n2\n3\n");
}

// ---- The combined file ----

TEST(CombinedFile, RowTimesFollowTheSampleInterval) {
  // 27 data records in component 3: 208 rows.
  ScratchDir dir;
  const std::string csv = convert_numbered(dir, 27, 27, 27);
  const std::vector<std::string> rows = lines_of(csv);
  ASSERT_EQ(rows.size(), 208u);
  EXPECT_EQ(csv.size(), 208u * 41u);
  EXPECT_EQ(column(rows[0], 1), "  0.000");
  EXPECT_EQ(column(rows[1], 1), "  0.005");
  EXPECT_EQ(column(rows[2], 1), "  0.010");
  EXPECT_EQ(column(rows[15], 1), "  0.075");
  EXPECT_EQ(column(rows[200], 1), "  1.000");
  EXPECT_EQ(column(rows[207], 1), "  1.035");
  EXPECT_EQ(rows[200], "  1.000,   150.250,  -250.250,   350.250");
  EXPECT_EQ(csv, numbered_rows(208));
}

// The fields' editing is FixedEditing's (recordio_output_editing_test); here, values read from the
// components made into the row at 0.005 s.
TEST(CombinedFile, SampleTwoMakesTheRowAtTimePoint005) {
  ScratchDir dir;
  const ComponentFile c1 = component_file(1, {record_of_fields({"1", "12.3456"})});
  const ComponentFile c2 = component_file(2, {record_of_fields({"2", "-0.0004"})});
  const ComponentFile c3 =
      component_file(3, {record_of_fields({"3", "-1234.5"}), record_of_values({})});
  write_components(dir, c1, c2, c3);
  expect_completed(run_in(dir, "out.csv\n"));
  const std::vector<std::string> rows = lines_of(dir.read("out.csv"));
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], "  0.000,     0.000,     0.000,     0.000");
  EXPECT_EQ(rows[1], "  0.005,    12.346,     0.000, -1234.500");
}

TEST(CombinedFile, AnExistingLongerFileIsCutToTheNewRows) {
  ScratchDir dir;
  dir.write("out.csv", std::string(1000, 'Z') + "\n" + std::string(3000, 'Y'));
  const ProcessResult r = run_standard(dir, "out.csv\n");
  expect_completed(r);
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
}

TEST(CombinedFile, ShorterComponentsGiveZerosAndLongerOnesAreCut) {
  {
    // Components 1 and 2 shorter than component 3 (40 rows).
    ScratchDir dir;
    const std::string csv = convert_numbered(dir, 2, 1, 6);
    std::string expected;
    for (int row = 1; row <= 40; ++row) {
      expected += csv_row(row, row <= 16 ? sample_value(1, row) : 0.0f,
                          row <= 8 ? sample_value(2, row) : 0.0f, sample_value(3, row));
    }
    EXPECT_EQ(csv, expected);
    EXPECT_EQ(lines_of(csv)[16], "  0.080,     0.000,     0.000,   304.250");
  }
  {
    // Components 1 and 2 longer than component 3 (8 rows).
    ScratchDir dir;
    EXPECT_EQ(convert_numbered(dir, 10, 7, 2), numbered_rows(8));
  }
}

// ---- The output name ----

// How a text READ cuts and ends the name, and how OPEN trims it, are the runtime's
// (FormattedRead.TextRecordsArePaddedCutAndEndAtLfOrCrLf, Open.NameLosesTrailingBlanksOnly, and
// FatalPath's end of standard input and null names); here, the name as the run reads it.
TEST(OutputName, TheNameIsTheFirstEightyCharactersWithoutTrailingBlanks) {
  const std::string long_name = std::string(70, 'n') + "0123456789" + "abcdefghijklmnopqrst";
  const std::string first80 = long_name.substr(0, 80);
  struct Case {
    const char* what;
    std::string input;
    std::string file;  // the name of the file written
  };
  const Case cases[] = {
      {"trailing blanks", "out.csv      \n", "out.csv"},
      {"longer than 80, without a line end", long_name, first80},
      {"exactly 80, without a line end", first80, first80},
      {"a path into a subdirectory", "sub/out.csv\n", "sub/out.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    fs::create_directory(dir / "sub");
    const ProcessResult r = run_standard(dir, c.input);
    expect_standard_run(r);
    ASSERT_TRUE(dir.exists(c.file)) << "'" << c.file << "'";
    EXPECT_EQ(dir.read(c.file), kStandardRows);
    std::set<std::string> expected = component_names();
    expected.insert("sub");
    if (c.file.find('/') == std::string::npos) expected.insert(c.file);
    EXPECT_EQ(entries(dir.path()), expected);
  }
}

TEST(OutputName, FailuresStopTheRunAfterTheDialogue) {
  struct Case {
    const char* what;
    std::string input;
    std::string diagnostic;
  };
  const std::string lately = "lately reading sequential formatted external IO\n";
  const Case cases[] = {
      {"standard input empty", "",
       "fmt: end of file\napparent state: unit 5 (unnamed)\nlast format: (a80)\n" + lately},
      {"empty name", "\n", "open: null file name\napparent state: unit 11 (unnamed)\n" + lately},
      {"name of 80 blanks, then more", std::string(80, ' ') + "out.csv\n",
       "open: null file name\napparent state: unit 11 (unnamed)\n" + lately},
      {"missing directory", "missing/out.csv\n",
       "open: No such file or directory\napparent state: unit 11 named missing/out.csv\n" + lately},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const ProcessResult r = run_standard(dir, c.input);
    expect_aborted(r);
    EXPECT_EQ(r.out, standard_transcript());
    EXPECT_EQ(r.err, c.diagnostic);
    EXPECT_EQ(entries(dir.path()), component_names());
  }
}

TEST(OutputName, AnExistingFileThatCannotBeWrittenStopsTheRunAtTheFirstRow) {
  struct Case {
    const char* what;
    int records;  // data records of component 3
  };
  const Case cases[] = {{"16 rows", 3}, {"no rows", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const ComponentFile c3 = component_file(3, numbered_records(3, c.records));
    write_components(dir, standard(1), standard(2), c3);
    const std::string old = "read-only contents\n";
    dir.write("out.csv", old);
    fs::permissions(dir / "out.csv",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    dir.open_to_others();
    const ProcessResult r =
        run_program({dir.path(), "out.csv\n", {}, {}, testing_support::where_permissions_hold()});
    EXPECT_EQ(r.out, transcript(standard(1), 3, standard(2), 3, c3, c.records));
    if (c.records > 1) {
      expect_aborted(r);
      EXPECT_EQ(r.err, std::string("write start: can't write file\n"
                                   "apparent state: unit 11 named out.csv\n"
                                   "last format: (F7.3,3(\x02,\x02,F10.3))\n"
                                   "lately writing sequential formatted external IO\n"));
    } else {
      expect_completed(r);
    }
    EXPECT_EQ(dir.read("out.csv"), old);
  }
}

// ---- Regression: the prompt unseen until the run ends when the console is a pipe ----

// Collects the console of a piped run until it holds as much as `transcript`; whether it did
// within kPatience.
bool shows_dialogue(PipedRun& run, const std::string& transcript) {
  return run.read_until([&](const std::string& out) { return out.size() >= transcript.size(); },
                        kPatience);
}

TEST(RegressionPromptUnseenThroughAPipe, TheNamePromptIsShownBeforeTheNameIsRead) {
  ScratchDir dir;
  write_standard(dir);
  PipedRun run({.cwd = dir.path()});
  const std::string transcript = standard_transcript();
  EXPECT_TRUE(shows_dialogue(run, transcript))
      << "no prompt after " << kPatience.count() << " ms; the console shows:\n"
      << run.out();
  EXPECT_EQ(run.out(), transcript);
  EXPECT_FALSE(dir.exists("out.csv"));
  ASSERT_NO_FATAL_FAILURE(answer_and_finish(run, "out.csv\n"));
  EXPECT_EQ(run.out(), transcript);
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
}

// ---- Regression: cutting an output that is not a regular file ----

TEST(RegressionCuttingAnOutputThatIsNotAFile, DevNullTakesTheRows) {
  ScratchDir dir;
  const ProcessResult r = run_standard(dir, "/dev/null\n");
  expect_standard_run(r);
  EXPECT_EQ(entries(dir.path()), component_names());
}

TEST(RegressionCuttingAnOutputThatIsNotAFile, DevStdoutStreamsTheRowsAfterTheDialogue) {
  ScratchDir dir;
  write_standard(dir);
  PipedRun run({.cwd = dir.path()});
  const std::string transcript = standard_transcript();
  EXPECT_TRUE(shows_dialogue(run, transcript));
  ASSERT_NO_FATAL_FAILURE(answer_and_finish(run, "/dev/stdout\n"));
  EXPECT_EQ(run.out(), transcript + kStandardRows);
  EXPECT_EQ(entries(dir.path()), component_names());
}

// ---- Regression: a failed write of the output taken for success ----

TEST(RegressionFailedWriteTakenForSuccess, AFullDeviceStopsTheRunOnTheFatalPath) {
  ScratchDir dir;
  const ProcessResult r = run_standard(dir, "/dev/full\n");
  EXPECT_FALSE(r.exited() && r.exit_code() == 0) << "the run reported success";
  expect_aborted(r);
  EXPECT_EQ(r.out, standard_transcript());
  const std::vector<std::string> err = lines_of(r.err);
  ASSERT_GE(err.size(), 2u) << r.err;
  EXPECT_NE(err[0].find("No space left on device"), std::string::npos) << err[0];
  EXPECT_EQ(err[1], "apparent state: unit 11 named /dev/full");
}

TEST(RegressionFailedWriteTakenForSuccess, AFullDeviceWithoutRowsIsNotWritten) {
  ScratchDir dir;
  const ComponentFile c3 = component_file(3);
  write_components(dir, standard(1), standard(2), c3);
  const ProcessResult r = run_in(dir, "/dev/full\n");
  expect_completed(r);
  EXPECT_EQ(r.out, transcript(standard(1), 3, standard(2), 3, c3, 0));
}

// ---- Regression: the sign of negative infinity dropped ----

TEST(RegressionInfinitySignDropped, NegativeInfinityKeepsItsSign) {
  ScratchDir dir;
  const ComponentFile c1 = component_file(1, {record_of_fields({"-1E+99", "1E+99", "-1.0E+39"})});
  const ComponentFile c2 = component_file(2, {record_of_fields({"1E+99", "-1E+99", "3.5E+38"})});
  const ComponentFile c3 = component_file(3, numbered_records(3, 2));
  write_components(dir, c1, c2, c3);
  const ProcessResult r = run_in(dir, "out.csv\n");
  expect_completed(r);
  const std::vector<std::string> rows = lines_of(dir.read("out.csv"));
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], "  0.000,      -inf,       inf,   300.250");
  EXPECT_EQ(rows[1], "  0.005,       inf,      -inf,   300.500");
  EXPECT_EQ(rows[2], "  0.010,      -inf,       inf,   300.750");
}

}  // namespace
