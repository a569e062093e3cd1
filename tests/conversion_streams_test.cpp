// The whole program where users stream and pipe: component files and outputs that are FIFOs,
// standard output's own file named as the output, and a limit on memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "conversion_component_files.h"
#include "support/piped_run.h"
#include "support/process.h"
#include "support/signal_endings.h"

namespace conversion_testing {
namespace {

using namespace std::chrono_literals;
using testing_support::describe_status;
using testing_support::PipedRun;
using testing_support::PipedRunOptions;

// Sets the test process's own disposition of SIGPIPE for a while: ignored, so that a feeding or
// draining thread whose program has gone sees EPIPE instead of ending the test; or the default,
// for a shell pipeline started from here, which inherits it (a signal ignored at the start of a
// shell cannot be reset in it).
class BrokenPipe {
 public:
  explicit BrokenPipe(void (*disposition)(int)) { previous_ = std::signal(SIGPIPE, disposition); }
  ~BrokenPipe() { std::signal(SIGPIPE, previous_); }
  BrokenPipe(const BrokenPipe&) = delete;
  BrokenPipe& operator=(const BrokenPipe&) = delete;

 private:
  void (*previous_)(int);
};

// Opens the FIFO at `path` for writing once a reader has it open, waiting at most kPatience; -1
// when none came. Never blocks for longer, so that a run that never opens the FIFO fails the test
// instead of hanging it.
int open_for_writing_when_read(const std::filesystem::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != ENXIO) return -1;
    std::this_thread::sleep_for(2ms);
  }
  return -1;
}

// Feeds `bytes` into the FIFO at `path` from another thread, as a decompressor would; the future
// tells whether every byte went in.
std::future<bool> feed(const std::filesystem::path& path, std::string bytes) {
  return std::async(std::launch::async, [path, bytes = std::move(bytes)] {
    const int fd = open_for_writing_when_read(path);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
    return done == bytes.size();
  });
}

// Reads the FIFO at `path` from another thread, up to `limit` bytes, then closes it.
std::future<std::string> drain(const std::filesystem::path& path,
                               std::size_t limit = std::string::npos) {
  return std::async(std::launch::async, [path, limit] {
    std::string got;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return got;
    char block[4096];
    while (got.size() < limit) {
      const ssize_t n = read(fd, block, std::min(sizeof block, limit - got.size()));
      if (n <= 0) break;
      got.append(block, static_cast<std::size_t>(n));
    }
    close(fd);
    return got;
  });
}

// Runs the program in `dir` with its streams on pipes, answers the name prompt with `name` and
// waits for the end. The status is empty when the run did not end in time.
std::optional<int> answer_and_wait(PipedRun& run, const std::string& name) {
  if (!run.wait_for_output(kNamePrompt, kPatience)) {
    ADD_FAILURE() << "no name prompt; the console shows:\n" << run.out();
    return std::nullopt;
  }
  if (!run.write_input(name + "\n")) ADD_FAILURE() << "the run took no name";
  return run.finish(kPatience);
}

// Component files large enough that the rows do not fit in a pipe: 31992 rows.
ComponentFile large(int k) {
  return component_file(k, numbered_records(k, 4000));
}

// ---- Regression: a component file that is a FIFO hangs the run ----

TEST(RegressionComponentFifoHangs, AComponentFifoIsReadToItsWritersEnd) {
  const BrokenPipe ignored(SIG_IGN);
  struct Case {
    const char* what;
    bool fifo[3];
  };
  const ComponentFile files[3] = {large(1), large(2), large(3)};
  for (const Case& c :
       {Case{"component 1", {true, false, false}}, Case{"component 3", {false, false, true}},
        Case{"all three", {true, true, true}}}) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    std::future<bool> fed[3];
    for (int k = 0; k < 3; ++k) {
      if (!c.fifo[k]) {
        dir.write(kComponentNames[k], files[k].bytes());
        continue;
      }
      ASSERT_EQ(mkfifo((dir / kComponentNames[k]).c_str(), 0600), 0);
      fed[k] = feed(dir / kComponentNames[k], files[k].bytes());
    }
    PipedRun run({.cwd = dir.path()});
    const std::optional<int> status = answer_and_wait(run, "out.csv");
    ASSERT_TRUE(status) << "the run hangs; the console shows:\n" << run.out();
    testing_support::expect_exit_status(*status, 0, run.err());
    for (int k = 0; k < 3; ++k) {
      if (c.fifo[k]) {
        EXPECT_TRUE(fed[k].get()) << "component " << k + 1 << " not read whole";
      }
    }
    EXPECT_EQ(run.out(), transcript(files[0], 4000, files[1], 4000, files[2], 4000));
    EXPECT_TRUE(dir.read("out.csv") == numbered_rows(31992)) << "the rows differ";
  }
}

// ---- Regression: an output FIFO loses rows or hangs ----

TEST(RegressionOutputFifoLosesRows, TheReaderGetsEveryRow) {
  const BrokenPipe ignored(SIG_IGN);
  struct Case {
    const char* what;
    std::chrono::milliseconds reader_late;
  };
  for (const Case& c :
       {Case{"a reader from the start", 0ms}, Case{"a reader 300 ms late", 300ms}}) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_components(dir, large(1), large(2), large(3));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    PipedRun run({.cwd = dir.path()});
    ASSERT_TRUE(run.wait_for_output(kNamePrompt, kPatience)) << run.out();
    ASSERT_TRUE(run.write_input("fifo\n"));
    if (c.reader_late > 0ms) {
      // The OPEN waits for a reader, as every writer to a FIFO does; no row is given up.
      EXPECT_TRUE(run.still_running_after(c.reader_late)) << "the run ended without a reader";
    }
    std::future<std::string> got = drain(dir / "fifo");
    const std::optional<int> status = run.finish(kPatience);
    ASSERT_TRUE(status) << "the run hangs";
    testing_support::expect_exit_status(*status, 0, run.err());
    EXPECT_TRUE(got.get() == numbered_rows(31992)) << "the reader did not get every row";
  }
}

TEST(RegressionOutputFifoLosesRows, AReaderThatGoesAwayEndsTheRunWithAFailure) {
  const BrokenPipe ignored(SIG_IGN);
  struct Case {
    const char* what;
    bool ignore_broken_pipe;
  };
  for (const Case& c :
       {Case{"broken pipe at its default", false}, Case{"broken pipe ignored", true}}) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_components(dir, large(1), large(2), large(3));
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    PipedRunOptions options{.cwd = dir.path()};
    if (c.ignore_broken_pipe) options.before_exec = [] { std::signal(SIGPIPE, SIG_IGN); };
    PipedRun run(std::move(options));
    std::future<std::string> got = drain(dir / "fifo", 100);
    const std::optional<int> status = answer_and_wait(run, "fifo");
    ASSERT_TRUE(status) << "the run hangs after its reader went away";
    EXPECT_EQ(got.get(), numbered_rows(3).substr(0, 100));
    if (c.ignore_broken_pipe) {
      expect_aborted(ProcessResult{*status, run.out(), run.err()});
      const std::vector<std::string> err = lines_of(run.err());
      ASSERT_GE(err.size(), 2u) << run.err();
      EXPECT_EQ(err[0], "write: Broken pipe");
      EXPECT_EQ(err[1], "apparent state: unit 11 named fifo");
    } else {
      testing_support::expect_end_by_signal(*status, SIGPIPE);
      EXPECT_EQ(run.err(), "");
    }
  }
}

// ---- Regression: naming the console's own file as the output destroys data ----

// Standard output redirected to `console` (appending when `append`), holding `before`; the
// output named `name`. Returns the run and what the console file holds afterwards.
std::pair<ProcessResult, std::string> run_onto_console(const std::string& name, bool append,
                                                       const std::string& before) {
  ScratchDir dir;
  write_standard(dir);
  dir.write("console.txt", before);
  ProcessResult r = run_program({dir.path(),
                                 name + "\n",
                                 {},
                                 {},
                                 stream_onto(STDOUT_FILENO, (dir / "console.txt").string(),
                                             O_WRONLY | (append ? O_APPEND : O_TRUNC))});
  EXPECT_EQ(entries(dir.path()), [] {
    std::set<std::string> names = component_names();
    names.insert("console.txt");
    return names;
  }()) << "a file was created";
  return {std::move(r), dir.read("console.txt")};
}

TEST(RegressionConsoleOutputOverwritten, TheRowsFollowTheConsoleLinesInItsFile) {
  struct Case {
    const char* name;
    bool append;
    std::string before;
  };
  const std::string log = "an earlier run's log line\nand another\n";
  const Case cases[] = {
      {"/dev/stdout", false, ""}, {"/proc/self/fd/1", false, ""}, {"console.txt", false, ""},
      {"/dev/stdout", true, log}, {"console.txt", true, log},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.append ? ", appending" : ""));
    const auto [r, console] = run_onto_console(c.name, c.append, c.before);
    expect_completed(r);
    EXPECT_EQ(console, c.before + standard_transcript() + kStandardRows);
  }
}

TEST(RegressionConsoleOutputOverwritten, APipeReaderThatStopsEndsTheRun) {
  const BrokenPipe at_default(SIG_DFL);
  ScratchDir dir;
  write_components(dir, large(1), large(2), large(3));
  const std::string command =
      "cd '" + dir.path().string() + "' && echo /dev/stdout | { timeout -s KILL 20 '" +
      testing_support::program_path() + "'; echo $? > status.txt; } | head -n 20 > head.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string status = dir.read("status.txt");
  EXPECT_NE(status, "137\n") << "the run hung and was killed";
  EXPECT_EQ(status, std::to_string(128 + SIGPIPE) + "\n") << "ended by broken pipe";
  const std::vector<std::string> lines = lines_of(dir.read("head.txt"));
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[17], kNamePrompt.substr(0, kNamePrompt.size() - 1));
  EXPECT_EQ(lines[18] + "\n", numbered_rows(1));
}

// ---- Regression: an allocation failure crashes outside the runtime ----

// The standard conversion with its address space limited to `kib` KiB.
ProcessResult run_limited(const ScratchDir& dir, rlim_t kib) {
  std::filesystem::remove(dir / "out.csv");
  return run_program({dir.path(), "out.csv\n", {}, {}, [kib] {
                        const rlimit limit{kib * 1024, kib * 1024};
                        setrlimit(RLIMIT_AS, &limit);
                      }});
}

// The system could not even map the program and its libraries: nothing of it ran. (Under the
// lowest limits the process dies in exec; a little higher the loader gives up with status 127.)
bool not_loaded(const ProcessResult& r) {
  return (r.exited() && r.exit_code() == 127) ||
         (r.signaled() && r.signal() == SIGSEGV && r.out.empty() && r.err.empty());
}

TEST(RegressionAllocationFailureCrash, EveryLimitEndsInACompleteRunOrTheFatalPath) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address checker maps more memory than any such limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the address checker maps more memory than any such limit allows";
#endif
#endif
  ScratchDir dir;
  write_standard(dir);
  // The smallest limit at which the program is loaded at all, to 16 KiB.
  rlim_t low = 256, high = 256;
  while (not_loaded(run_limited(dir, high))) {
    low = high;
    high *= 2;
    ASSERT_LT(high, 1u << 20) << "the program does not start even with 1 GiB";
  }
  while (high - low > 16) {
    const rlim_t mid = (low + high) / 2;
    (not_loaded(run_limited(dir, mid)) ? low : high) = mid;
  }
  // From there up, every run completes exactly or takes the fatal path with the system's text.
  int completed = 0, refused = 0;
  for (rlim_t kib = high; kib < high + 2048; kib += 32) {
    SCOPED_TRACE(std::to_string(kib) + " KiB");
    const ProcessResult r = run_limited(dir, kib);
    if (r.exited() && r.exit_code() == 0) {
      ++completed;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, standard_transcript());
      EXPECT_EQ(dir.read("out.csv"), kStandardRows);
      continue;
    }
    ++refused;
    EXPECT_FALSE(not_loaded(r));
    expect_aborted(r);
    const std::vector<std::string> err = lines_of(r.err);
    ASSERT_FALSE(err.empty()) << describe_status(r.status) << "\n" << r.out;
    EXPECT_NE(err[0].find(": Cannot allocate memory"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("terminate"), std::string::npos) << r.err;
  }
  EXPECT_GT(completed, 0) << "no limit in the range let the conversion complete";
  testing::Test::RecordProperty("lowest_loading_limit_kib", static_cast<int>(high));
  testing::Test::RecordProperty("runs_refused", refused);
}

}  // namespace
}  // namespace conversion_testing
