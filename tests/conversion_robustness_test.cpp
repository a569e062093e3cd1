// Faults of the program's surroundings that must not cost data or hang the run: closed standard
// streams, streams that stall, never report room or were left non-blocking, sockets, a reader
// that stops reading, a run killed while it writes, a write-only output file, an output that
// names an input, a name with a NUL byte, standard input shared with what runs next.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "conversion_component_files.h"
#include "support/diagnostics.h"
#include "support/piped_run.h"
#include "support/process.h"
#include "support/signal_endings.h"

namespace conversion_testing {
namespace {

using namespace std::chrono_literals;
using testing_support::expect_ending;
using testing_support::HandledSignal;
using testing_support::PipedRun;
using testing_support::PipedRunOptions;
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
    const int closed = c.closed;
    const ProcessResult r =
        run_program({dir.path(), "out.csv\n", {}, {}, [closed] { close(closed); }});
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
  if (!testing_support::permissions_can_hold()) {
    GTEST_SKIP() << "cannot run the program as an unprivileged user: permission bits do not "
                    "hold for root";
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
        run_program({dir.path(), "out.csv\n", {}, {}, testing_support::where_permissions_hold()});
    expect_completed(r);
    fs::permissions(dir / "out.csv", fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(dir.read("out.csv"), c.expected) << c.records << " data records in component 3";
  }
}

TEST(RegressionNulByteInTheName, ANameWithANulByteIsRefused) {
  ScratchDir dir;
  write_standard(dir);
  const ProcessResult r = run_program({dir.path(), std::string("nul\0junk.csv\n", 13)});
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
  for (const HandledSignal& s :
       {testing_support::kInterrupt, testing_support::kTerminationRequest}) {
    SCOPED_TRACE(s.what);
    ScratchDir dir;
    const std::vector<std::string> records = numbered_records(1, 4000);
    write_components(dir, component_file(1, records), component_file(2, records),
                     component_file(3, records));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    PipedRun run(PipedRunOptions{.cwd = dir.path()});
    ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience));
    ASSERT_TRUE(run.write_input("fifo\n"));
    ASSERT_TRUE(run.still_running_after(300ms)) << "the rows should not fit in the pipe";
    run.send_signal(s.signal);
    const std::optional<int> status = run.finish(kPatience);
    ASSERT_TRUE(status.has_value()) << "the " << s.what << " did not end the run";
    expect_ending(*status, s);
    EXPECT_EQ(run.err(), s.message);
    close(reader);
  }
}

// A pipe whose buffer is full and that nobody reads: a write to it waits for good.
class StalledPipe {
 public:
  StalledPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    read_end_ = fds[0];
    write_end_ = fds[1];
    fcntl(write_end_, F_SETFL, O_NONBLOCK);
    for (std::size_t chunk = 65536; chunk > 0; chunk /= 2) {
      const std::string bytes(chunk, 'f');
      ssize_t n;
      while ((n = write(write_end_, bytes.data(), chunk)) > 0) {
        filler_.append(static_cast<std::size_t>(n), 'f');
      }
    }
    fcntl(write_end_, F_SETFL, 0);  // the run's end waits, as a stream usually does
  }
  ~StalledPipe() {
    close(read_end_);
    close(write_end_);
  }
  StalledPipe(const StalledPipe&) = delete;
  StalledPipe& operator=(const StalledPipe&) = delete;

  int write_end() const { return write_end_; }
  const std::string& filler() const { return filler_; }
  // Everything it holds, once the run is over.
  std::string drain() {
    fcntl(read_end_, F_SETFL, O_NONBLOCK);
    std::string held;
    char block[65536];
    ssize_t n;
    while ((n = read(read_end_, block, sizeof block)) > 0) held.append(block, n);
    return held;
  }

 private:
  int read_end_ = -1, write_end_ = -1;
  std::string filler_;
};

// Standard error on a full pipe nobody reads (a terminal stopped by XOFF is the same): a handled
// signal still ends the run at once, at the name prompt and while the fatal path waits to write
// its diagnostic. The signal's message, which the stream cannot take, is dropped.
TEST(RegressionSignalHangsOnAStalledStandardError, EachHandledSignalStillEndsTheRun) {
  using testing_support::HandledSignal;
  for (const bool at_prompt : {true, false}) {
    for (const HandledSignal& s :
         {testing_support::kInterrupt, testing_support::kTerminationRequest,
          testing_support::kFloatingPointException}) {
      SCOPED_TRACE(std::string(at_prompt ? "at the name prompt, " : "in the fatal path, ") +
                   s.what);
      ScratchDir dir;
      if (at_prompt) write_standard(dir);  // else a missing component takes the fatal path
      StalledPipe err;
      const int stalled = err.write_end();
      PipedRun run(PipedRunOptions{.cwd = dir.path(),
                                   .before_exec = [stalled] { dup2(stalled, STDERR_FILENO); }});
      if (at_prompt) {
        ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience)) << run.out();
      } else {
        ASSERT_TRUE(run.still_running_after(300ms)) << "the diagnostic should wait for room";
      }
      run.send_signal(s.signal);
      const std::optional<int> status = run.finish(kPatience);
      ASSERT_TRUE(status.has_value()) << "the signal did not end the run";
      testing_support::expect_ending(*status, s);
      EXPECT_TRUE(err.drain() == err.filler()) << "more than the filler in the stalled stream";
    }
  }
}

// A write is tried before any wait for room. A device that takes writes but never reports room
// (/dev/random) gets the rows or the console, and a standard output that cannot be written at
// all (the read end of a live pipe) fails at once on the fatal path.
TEST(RegressionWritesWaitForReadiness, AWriteIsTriedBeforeAnyWaitForRoom) {
  struct Case {
    const char* what;
    const char* name;
    std::function<void()> before_exec;
    const char* failure;  // the diagnostic's first line; nullptr: the run completes
  };
  const Case cases[] = {
      {"the output /dev/random", "/dev/random", {}, nullptr},
      {"standard output on /dev/random", "out.csv",
       stream_onto(STDOUT_FILENO, "/dev/random", O_WRONLY), nullptr},
      {"standard output on the read end of standard input's pipe", "out.csv",
       [] { dup2(STDIN_FILENO, STDOUT_FILENO); }, "write: Bad file descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_standard(dir);
    PipedRun run(PipedRunOptions{.cwd = dir.path(), .before_exec = c.before_exec});
    ASSERT_TRUE(run.write_input(std::string(c.name) + "\n"));  // and the pipe stays open
    const std::optional<int> status = run.finish(kPatience);
    ASSERT_TRUE(status.has_value()) << "the run waits for good";
    if (c.failure == nullptr) {
      testing_support::expect_exit_status(*status, 0, run.err());
      if (std::string(c.name) == "out.csv") {
        EXPECT_EQ(dir.read("out.csv"), kStandardRows);
      }
    } else {
      testing_support::expect_end_by_signal(*status, SIGABRT);
      EXPECT_EQ(lines_of(run.err()).at(0), c.failure);
    }
  }
}

// Standard input left non-blocking by the parent: the run waits for the name as on a blocking
// one, instead of taking "would block" for a failure.
TEST(RegressionNonBlockingInputAbortsTheRun, TheRunWaitsForTheNameToArrive) {
  ScratchDir dir;
  write_standard(dir);
  PipedRun run(PipedRunOptions{.cwd = dir.path(), .before_exec = [] {
                                 fcntl(STDIN_FILENO, F_SETFL,
                                       fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
                               }});
  ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience)) << run.out();
  ASSERT_TRUE(run.still_running_after(300ms)) << run.err();
  ASSERT_TRUE(run.write_input("out.csv\n"));
  const std::optional<int> status = run.finish(kPatience);
  ASSERT_TRUE(status.has_value());
  testing_support::expect_exit_status(*status, 0, run.err());
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
}

// A standard stream on a socket (a service manager's journal, inetd, a parent's socketpair): the
// name /dev/stdout or /dev/stderr reaches it, though the system opens no socket by name.
TEST(RegressionStandardStreamOnASocketRefused, TheRowsGoThroughTheSocket) {
  for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
    SCOPED_TRACE(stream == STDOUT_FILENO ? "/dev/stdout" : "/dev/stderr");
    ScratchDir dir;
    write_standard(dir);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    const int theirs = pair[1];
    PipedRun run(PipedRunOptions{.cwd = dir.path(),
                                 .before_exec = [theirs, stream] { dup2(theirs, stream); }});
    close(pair[1]);
    ASSERT_TRUE(run.write_input(stream == STDOUT_FILENO ? "/dev/stdout\n" : "/dev/stderr\n"));
    const std::optional<int> status = run.finish(kPatience);
    std::string got;
    char block[65536];
    ssize_t n;
    while ((n = read(pair[0], block, sizeof block)) > 0) got.append(block, n);
    close(pair[0]);
    ASSERT_TRUE(status.has_value());
    testing_support::expect_exit_status(*status, 0, run.err());
    const std::string console = standard_transcript();
    EXPECT_EQ(got, (stream == STDOUT_FILENO ? console : "") + kStandardRows);
    EXPECT_EQ(stream == STDOUT_FILENO ? run.err() : run.out(),
              stream == STDOUT_FILENO ? "" : console);
  }
}

// Standard output appended to a component (cdmg2csv >> QRV-UP-1.txt): the component is read by
// its name from its start; only the output ever goes through a standard stream's own file.
TEST(RegressionConsoleCapturesAComponent, AComponentIsReadByItsNameWhereverTheConsoleGoes) {
  ScratchDir dir;
  write_standard(dir);
  const std::string component3 = dir.read(kComponentNames[2]);
  expect_completed(run_program({dir.path(),
                                "out.csv\n",
                                {},
                                {},
                                stream_onto(STDOUT_FILENO, "QRV-UP-1.txt", O_WRONLY | O_APPEND)}));
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
  EXPECT_EQ(dir.read(kComponentNames[2]), component3 + standard_transcript());
}

// The output /dev/stderr while standard error is appended to a log (cdmg2csv 2>> run.log): the
// rows go through standard error, after the log's earlier lines, and nothing is cut.
TEST(RegressionStandardErrorOutputDestroysItsLog, TheRowsFollowTheLogsEarlierLines) {
  ScratchDir dir;
  write_standard(dir);
  std::string earlier;
  for (int k = 0; k < 100; ++k) earlier += "an earlier run's line " + std::to_string(k) + "\n";
  dir.write("run.log", earlier);
  const ProcessResult r = run_program({dir.path(),
                                       "/dev/stderr\n",
                                       {},
                                       {},
                                       stream_onto(STDERR_FILENO, "run.log", O_WRONLY | O_APPEND)});
  expect_completed(r);
  EXPECT_EQ(r.out, standard_transcript());
  EXPECT_EQ(dir.read("run.log"), earlier + kStandardRows);
}

// SIGKILL while the rows go over a longer existing file (a `timeout -s KILL`, the out-of-memory
// killer, a power cut): the file left is a prefix of the new rows, never new rows followed by
// the old file's tail. The file is watched and the run killed the moment the file changes.
TEST(RegressionKilledRunMixesTwoConversions, AKilledRunLeavesAPrefixOfItsRows) {
  constexpr int kRecords = 4000;
  ScratchDir dir;
  write_components(dir, component_file(1, numbered_records(1, kRecords)),
                   component_file(2, numbered_records(2, kRecords)),
                   component_file(3, numbered_records(3, kRecords)));
  const std::string rows = numbered_rows(8 * kRecords - 8);
  std::string old;
  while (old.size() < 4 * rows.size()) old += "an older conversion's row\n";
  int landed = 0;
  for (int attempt = 0; attempt < 20 && landed < 3; ++attempt) {
    dir.write("out.csv", old);
    const int watch = open((dir / "out.csv").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(watch, 0);
    PipedRun run(PipedRunOptions{.cwd = dir.path()});
    ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience)) << run.out();
    ASSERT_TRUE(run.write_input("out.csv\n"));
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      struct stat st {};
      char first = 'a';
      if (fstat(watch, &st) != 0 || static_cast<std::size_t>(st.st_size) != old.size() ||
          pread(watch, &first, 1, 0) != 1 || first != old[0] ||
          std::chrono::steady_clock::now() > deadline) {
        break;
      }
    }
    run.send_signal(SIGKILL);
    close(watch);
    const std::optional<int> status = run.finish(kPatience);
    ASSERT_TRUE(status.has_value());
    const std::string left = dir.read("out.csv");
    if (WIFSIGNALED(*status) && left.size() < rows.size()) ++landed;
    // A write the kill cuts short may end inside a row; what is there is the rows' beginning.
    EXPECT_TRUE(left.size() <= rows.size() && rows.compare(0, left.size(), left) == 0)
        << "attempt " << attempt << ": " << left.size() << " bytes are not a prefix of the rows";
  }
  EXPECT_GT(landed, 0) << "no kill landed while the rows were being written";
}

// A component's name, or a link to one, given as the output name: refused before anything is
// written (the same file is recognised, not the same name), and every component stays as it was.
TEST(RegressionOutputOverwritesAComponent, AnOutputThatIsAComponentIsRefused) {
  for (const std::string name : {"QRV-N00-1.txt", "./QRV-UP-1.txt", "symbolic.csv", "hard.csv"}) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    write_standard(dir);
    ASSERT_EQ(symlink(kComponentNames[1].c_str(), (dir / "symbolic.csv").c_str()), 0);
    ASSERT_EQ(link((dir / kComponentNames[2]).c_str(), (dir / "hard.csv").c_str()), 0);
    const std::string before = components_as_written(dir);
    const ProcessResult r = run_program({dir.path(), name + "\n"});
    expect_aborted(r);
    EXPECT_EQ(r.err, testing_support::diagnostic_text("open: output file is an input file",
                                                      "unit 11 named " + name, "", false));
    EXPECT_EQ(r.out, standard_transcript());
    EXPECT_EQ(components_as_written(dir), before);
  }
}

// The output name reaching standard input's own pipe or file, the one the name came through: rows
// written there would be read by nobody or written over what is read, so the OPEN is refused.
TEST(RegressionOutputWritesIntoStandardInput, StandardInputsOwnFileIsRefused) {
  for (const bool piped : {true, false}) {
    SCOPED_TRACE(piped ? "a pipe named /dev/stdin" : "a file named by itself");
    ScratchDir dir;
    write_standard(dir);
    dir.write("name.txt", "name.txt\n");
    const std::string name = piped ? "/dev/stdin" : "name.txt";
    ProcessResult r;
    if (piped) {
      PipedRun run(PipedRunOptions{.cwd = dir.path()});
      ASSERT_TRUE(run.write_input(name + "\n"));
      const std::optional<int> status = run.finish(kPatience);
      ASSERT_TRUE(status.has_value());
      r = {*status, run.out(), run.err()};
    } else {
      r = run_program({dir.path(), "", {}, {}, stream_onto(STDIN_FILENO, "name.txt", O_RDONLY)});
    }
    expect_aborted(r);
    EXPECT_EQ(r.err, testing_support::diagnostic_text("open: output file is an input file",
                                                      "unit 11 named " + name, "", false));
    EXPECT_EQ(dir.read("name.txt"), "name.txt\n");
  }
}

}  // namespace
}  // namespace conversion_testing
