// Faults of the program's surroundings that must not cost data: closed standard streams, a
// reader that stops reading, a write-only output file, a name with a NUL byte, standard input
// shared with what runs next.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "conversion_component_files.h"
#include "support/piped_run.h"
#include "support/process.h"

namespace conversion_testing {
namespace {

using namespace std::chrono_literals;
using testing_support::PipedRun;
using testing_support::PipedRunOptions;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::run_program;
using testing_support::ScratchDir;
namespace fs = std::filesystem;

std::string components_as_written(const ScratchDir& dir) {
  return dir.read(kComponentNames[0]) + dir.read(kComponentNames[1]) + dir.read(kComponentNames[2]);
}

// Started without standard output or error, the program's first file would get the missing
// stream's descriptor. A malformed field stops the run while a component file is open: neither
// the pending console lines nor the diagnostic may land in it.
TEST(RegressionClosedConsoleWritesIntoInput, AClosedStandardStreamLeavesTheComponentFilesAlone) {
  struct Case {
    int closed;
    int malformed;  // the component holding the malformed field
  };
  for (const Case& c : {Case{STDOUT_FILENO, 1}, Case{STDERR_FILENO, 3}}) {
    ScratchDir dir;
    const ComponentFile bad = component_file(c.malformed, {"  1.5X"});
    write_components(dir, c.malformed == 1 ? bad : standard(1), standard(2),
                     c.malformed == 3 ? bad : standard(3));
    const std::string before = components_as_written(dir);
    ProcessOptions options;
    options.cwd = dir.path();
    options.input = "out.csv\n";
    const int closed = c.closed;
    options.before_exec = [closed] { close(closed); };
    const ProcessResult r = run_program(options);
    EXPECT_EQ(components_as_written(dir), before) << "descriptor " << c.closed << " closed";
    expect_aborted(r);
    EXPECT_EQ(entries(dir.path()), component_names());
    if (c.closed == STDOUT_FILENO) {
      const std::vector<std::string> err = lines_of(r.err);
      ASSERT_FALSE(err.empty());
      EXPECT_EQ(err[0], "fmt: read unexpected character");
    }
  }
}

// An output file that exists but may only be written: opened as it is, it keeps its contents
// when no row is written, and holds exactly the rows when some are.
TEST(RegressionWriteOnlyOutputEmptied, AnExistingWriteOnlyFileKeepsItsContentsWithoutRows) {
  std::function<void()> unprivileged;
  if (geteuid() == 0) {
    if (!testing_support::can_become_unprivileged()) {
      GTEST_SKIP() << "cannot run the program as an unprivileged user: permission bits do not "
                      "hold for root";
    }
    unprivileged = [] {
      if (!testing_support::become_unprivileged()) _exit(125);
    };
  }
  struct Case {
    int records;  // of component 3
    std::string expected;
  };
  const std::string old = "earlier contents, not to be lost\n";
  for (const Case& c : {Case{0, old}, Case{3, kStandardRows}}) {
    ScratchDir dir;
    write_components(dir, standard(1), standard(2),
                     component_file(3, numbered_records(3, c.records)));
    dir.write("out.csv", old);
    fs::permissions(dir / "out.csv",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
    dir.open_to_others();
    const ProcessResult r =
        run_program(ProcessOptions{dir.path(), "out.csv\n", {}, {}, unprivileged});
    expect_completed(r);
    fs::permissions(dir / "out.csv", fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(dir.read("out.csv"), c.expected) << c.records << " data records in component 3";
  }
}

TEST(RegressionNulByteInTheName, ANameWithANulByteIsRefused) {
  ScratchDir dir;
  write_standard(dir);
  ProcessOptions options;
  options.cwd = dir.path();
  options.input = std::string("nul\0junk.csv\n", 13);
  const ProcessResult r = run_program(options);
  expect_aborted(r);
  const std::vector<std::string> err = lines_of(r.err);
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err[0], "open: Invalid argument");
  EXPECT_EQ(entries(dir.path()), component_names());
}

TEST(StandardInput, OnlyTheNameLineIsConsumedFromAFile) {
  ScratchDir dir;
  write_standard(dir);
  dir.write("names.txt", "out.csv\nthe next program's line\n");
  const std::string command = "cd '" + dir.path().string() + "' && { '" +
                              testing_support::program_path() +
                              "' > console.txt; cat > rest.txt; } < names.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(dir.read("rest.txt"), "the next program's line\n");
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
}

// A run writing many rows into a FIFO whose reader reads nothing: the writes fill the pipe and
// wait.
TEST(RegressionInterruptHeldBackByAStuckWrite, AnInterruptEndsARunWhoseReaderStopped) {
  for (const auto& [sig, message] :
       {std::pair{SIGINT, "Interrupt\n"}, std::pair{SIGTERM, "Killed\n"}}) {
    ScratchDir dir;
    const std::vector<std::string> records = numbered_records(1, 4000);
    write_components(dir, component_file(1, records), component_file(2, records),
                     component_file(3, records));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    PipedRun run(PipedRunOptions{.cwd = dir.path()});
    ASSERT_TRUE(run.wait_for_output("Enter Output Acceleration File Name (CSV format)\n", 5000ms));
    ASSERT_TRUE(run.write_input("fifo\n"));
    ASSERT_TRUE(run.still_running_after(300ms)) << "the rows should not fit in the pipe";
    run.send_signal(sig);
    const std::optional<int> status = run.finish(5000ms);
    ASSERT_TRUE(status.has_value()) << "signal " << sig << " did not end the run";
    EXPECT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WIFEXITED(*status) ? WEXITSTATUS(*status) : -1, 1);
    EXPECT_EQ(run.err(), message);
    close(reader);
  }
}

}  // namespace
}  // namespace conversion_testing
