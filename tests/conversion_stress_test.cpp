// The complete program under pressure from outside: signals while it waits at the name prompt or
// writes its rows, files it may not read, and a console that cannot be written.
//
// Every wait is bounded; a run that does not end in time fails its test and is killed.
//
// Covered elsewhere, and not repeated here:
// - an existing output file the run may not write (read-only, owned by root, the run as an
//   unprivileged user): OutputName.AnExistingFileThatCannotBeWrittenStopsTheRunAtTheFirstRow in
//   conversion_run_test.cpp;
// - a component name that is a directory:
//   RegressionReadErrorTakenForEndOfFile.AComponentNameThatIsADirectoryIsFatal in
//   conversion_reader_test.cpp;
// - command-line arguments, which the run ignores: RunDialogue.CommandLineArgumentsAreIgnored in
//   conversion_run_test.cpp.
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "conversion_component_files.h"
#include "support/piped_run.h"
#include "support/process.h"
#include "support/signal_endings.h"

namespace {

namespace fs = std::filesystem;
using namespace conversion_testing;
using testing_support::describe_status;
using testing_support::expect_ending;
using testing_support::HandledSignal;
using testing_support::kHandledSignals;
using testing_support::PipedRun;

// ---- Signals while the run waits for the output name ----

// Starts the run in `dir`, waits for the name prompt, sends `sig` and waits for the end. The
// name is never given: standard input stays open, so only the signal can end the run.
std::optional<int> signal_at_prompt(const ScratchDir& dir, int sig, PipedRun& run) {
  if (!run.wait_for_output(kNamePrompt, kPatience)) {
    ADD_FAILURE() << "no name prompt after " << kPatience.count() << " ms; the console shows:\n"
                  << run.out();
    return std::nullopt;
  }
  EXPECT_FALSE(dir.exists("out.csv"));
  if (!run.send_signal(sig)) {
    ADD_FAILURE() << "the run ended before the signal could be sent";
    return std::nullopt;
  }
  const std::optional<int> status = run.finish(kPatience);
  if (!status) ADD_FAILURE() << "the run did not end within " << kPatience.count() << " ms";
  return status;
}

// An interrupt and a termination request exit with status 1; a floating-point exception and an
// abort from outside end the run abnormally, through abort.
TEST(SignalsAtTheNamePrompt, EachHandledSignalWritesItsMessageAndEndsTheRun) {
  for (const HandledSignal& c : kHandledSignals) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_standard(dir);
    PipedRun run({.cwd = dir.path()});
    const std::optional<int> status = signal_at_prompt(dir, c.signal, run);
    ASSERT_TRUE(status);
    expect_ending(*status, c);
    EXPECT_EQ(run.err(), c.message);
    EXPECT_EQ(run.out(), standard_transcript());
    EXPECT_EQ(entries(dir.path()), component_names()) << "an output file was created";
  }
}

// A run started in the background, under nohup, or with a broken pipe ignored keeps what it was
// given: the signal leaves it waiting for the name, which it then converts.
TEST(SignalsAtTheNamePrompt, ASignalIgnoredAtStartStaysIgnored) {
  for (const HandledSignal& c :
       {testing_support::kInterrupt, testing_support::kHangUp, testing_support::kQuit,
        testing_support::kBrokenPipe, testing_support::kFileSizeLimit}) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_standard(dir);
    const int sig = c.signal;
    PipedRun run({.cwd = dir.path(), .before_exec = [sig] { std::signal(sig, SIG_IGN); }});
    ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience)) << "the console shows:\n" << run.out();
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(run.send_signal(sig)) << "signal " << k + 1;
    EXPECT_TRUE(run.still_running_after(std::chrono::milliseconds(200)))
        << "the ignored signal ended the run: " << describe_status(run.status().value_or(0));
    EXPECT_EQ(run.error_so_far(), "");
    EXPECT_FALSE(dir.exists("out.csv"));
    ASSERT_NO_FATAL_FAILURE(answer_and_finish(run, "out.csv\n"));
    EXPECT_EQ(run.out(), standard_transcript());
    EXPECT_EQ(dir.read("out.csv"), kStandardRows);
  }
}

// ---- Signals while the rows are written ----

constexpr int kFullRows = 8 * kFullRecords - 8;

// Signals that land anywhere in the output phase, each case `rounds_each` times: the run either
// completed before its signal, or ends as the signal's handler ends it, leaving exactly the whole
// rows written so far, with nothing of the older, longer file beyond them. An older file is left
// as it was only when no row was written.
void signals_while_writing_rows(std::initializer_list<HandledSignal> cases, int rounds_each) {
  ComponentFile files[3];
  for (int k = 1; k <= 3; ++k) files[k - 1] = component_file(k, numbered_records(k, kFullRecords));
  std::string rows;
  std::vector<std::size_t> row_ends{0};
  for (int row = 1; row <= kFullRows; ++row) {
    rows += csv_row(row, sample_value(1, row), sample_value(2, row), sample_value(3, row));
    row_ends.push_back(rows.size());
  }
  const std::string older(rows.size() + 4096, 'Z');
  const int rounds = rounds_each * static_cast<int>(cases.size());
  // The output phase of such a run takes a few milliseconds: the delays spread the signals over
  // it, and some land before the OPEN or after the CLOSE.
  int interrupted = 0, cut_short = 0;
  for (int round = 0; round < rounds; ++round) {
    const HandledSignal& c = cases.begin()[round % cases.size()];
    const auto delay = std::chrono::microseconds(round * 4800 / rounds);
    SCOPED_TRACE(std::string(c.what) + " " + std::to_string(delay.count()) + " us after the name");
    ScratchDir dir;
    write_components(dir, files[0], files[1], files[2]);
    dir.write("out.csv", older);
    PipedRun run({.cwd = dir.path()});
    ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience)) << "the console shows:\n" << run.out();
    ASSERT_TRUE(run.write_input("out.csv\n"));
    std::this_thread::sleep_for(delay);
    const bool sent = run.send_signal(c.signal);
    const std::optional<int> status = run.finish(kPatience);
    ASSERT_TRUE(status) << "the run did not end within " << kPatience.count() << " ms";
    const std::string csv = dir.read("out.csv");
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0) {
      EXPECT_EQ(run.err(), "");
      EXPECT_TRUE(csv == rows) << "a completed run left " << csv.size() << " bytes instead of "
                               << rows.size();
      continue;
    }
    EXPECT_TRUE(sent);
    ++interrupted;
    expect_ending(*status, c);
    EXPECT_EQ(run.err(), c.message);
    if (csv == older) continue;  // stopped before the first row
    if (csv.size() < rows.size()) ++cut_short;
    bool whole_rows = false;
    for (std::size_t end : row_ends) whole_rows = whole_rows || csv.size() == end;
    EXPECT_TRUE(whole_rows) << "the file ends inside a row or holds more: " << csv.size()
                            << " bytes";
    EXPECT_TRUE(csv == rows.substr(0, csv.size()))
        << "the file is not the first rows of the conversion; " << csv.size() << " bytes";
  }
  testing::Test::RecordProperty("interrupted_runs", interrupted);
  testing::Test::RecordProperty("runs_stopped_inside_the_rows", cut_short);
}

TEST(SignalsWhileWritingRows, TheFileHoldsWholeRowsAndNothingOfAnOlderFile) {
  signals_while_writing_rows({testing_support::kTerminationRequest, testing_support::kInterrupt},
                             8);
}

// Hang-up, quit, broken pipe and the file-size limit ended the run by their default action with
// the units unclosed: the new rows, then the older file's tail.
TEST(RegressionSplicedFileAfterLateSignal, TheFileHoldsWholeRowsAndNothingOfAnOlderFile) {
  signals_while_writing_rows({testing_support::kHangUp, testing_support::kQuit,
                              testing_support::kBrokenPipe, testing_support::kFileSizeLimit},
                             4);
}

// ---- Files the run may not read, as an unprivileged user ----

TEST(UnprivilegedRun, AnUnreadableComponentFileStopsTheRunAtItsOpen) {
  if (!testing_support::permissions_can_hold()) {
    GTEST_SKIP() << "cannot run the program as an unprivileged user (uid "
                 << testing_support::kUnprivilegedUser << "): permission bits do not hold for root";
  }
  ScratchDir dir;
  write_standard(dir);
  const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write |
                             fs::perms::group_read | fs::perms::others_read;
  dir.open_to_others();
  for (const std::string& name : kComponentNames) fs::permissions(dir / name, readable);
  fs::permissions(dir / kComponentNames[1], fs::perms::none);

  const ProcessResult r =
      run_program({dir.path(), "out.csv\n", {}, {}, testing_support::where_permissions_hold()});
  expect_aborted(r);
  EXPECT_NE(r.exit_code(), 125) << "dropping privileges failed in the child";
  EXPECT_EQ(r.out, console_before(2));
  EXPECT_EQ(r.err,
            "open: Permission denied\n"
            "apparent state: unit 11 named QRV-N90-1.txt\n"
            "last format: list io\n"
            "lately writing sequential formatted external IO\n");
  EXPECT_EQ(entries(dir.path()), component_names()) << "an output file was created";
  EXPECT_EQ(fs::status(dir / kComponentNames[1]).permissions(), fs::perms::none);
  fs::permissions(dir / kComponentNames[1], readable);
  EXPECT_EQ(dir.read(kComponentNames[1]), standard(2).bytes());
}

// ---- Regression: a failed console write taken for success ----

TEST(RegressionConsoleWriteFailureSilent, AFullConsoleEndsTheRunAbnormally) {
  ScratchDir dir;
  write_standard(dir);
  const ProcessResult r = run_program(ProcessOptions{dir.path(), "out.csv\n", "/dev/full", {}, {}});
  EXPECT_FALSE(r.exited() && r.exit_code() == 0) << "the run reported success";
  expect_aborted(r);
  const std::vector<std::string> err = lines_of(r.err);
  ASSERT_GE(err.size(), 1u) << "nothing on standard error";
  EXPECT_NE(err[0].find("No space left on device"), std::string::npos) << r.err;
}

}  // namespace
