// The complete conversion run: the console dialogue, the combined file and its name, and the run
// driven through pipes as an interactive session would drive it.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion_component_files.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace conversion_testing;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::run_program;
using testing_support::ScratchDir;

// Component files with three numbered data records each: 16 rows.
ComponentFile standard(int k) {
  return component_file(k, numbered_records(k, 3));
}

void write_standard(const ScratchDir& dir) {
  write_components(dir, standard(1), standard(2), standard(3));
}

std::string standard_transcript() {
  return transcript(standard(1), 3, standard(2), 3, standard(3), 3);
}

// The 16 rows of the standard component files.
const std::string kStandardRows =
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

ProcessResult run_in(const ScratchDir& dir, const std::string& input,
                     std::vector<std::string> args = {}) {
  return run_program(ProcessOptions{dir.path(), input, {}, std::move(args), {}});
}

void expect_completed(const ProcessResult& r) {
  EXPECT_TRUE(r.exited()) << "status " << r.status << "\n" << r.err;
  EXPECT_EQ(r.exit_code(), 0) << r.err;
  EXPECT_EQ(r.err, "");
}

void expect_aborted(const ProcessResult& r) {
  EXPECT_TRUE(r.signaled()) << "status " << r.status;
  EXPECT_EQ(r.signal(), SIGABRT);
}

// Field `f` (1..4: time, x, y, z) of a row of the combined file.
std::string column(const std::string& row, int f) {
  return f == 1 ? row.substr(0, 7) : row.substr(8 + 11 * static_cast<std::size_t>(f - 2), 10);
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
  EXPECT_EQ(lines_of(r.out).size(), 18u);
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
  EXPECT_EQ(entries(dir.path()), (std::set<std::string>{kComponentNames[0], kComponentNames[1],
                                                        kComponentNames[2], "out.csv"}));
}

TEST(RunDialogue, TheFirstLineOnStandardInputNamesTheOutput) {
  // The three component prompts read nothing.
  ScratchDir dir;
  write_standard(dir);
  const ProcessResult r = run_in(dir, "first.csv\nsecond.csv\nthird.csv\nfourth.csv\n");
  expect_completed(r);
  EXPECT_EQ(r.out, standard_transcript());
  EXPECT_EQ(dir.read("first.csv"), kStandardRows);
  EXPECT_EQ(entries(dir.path()).size(), 4u);
}

TEST(RunDialogue, CommandLineArgumentsAreIgnored) {
  ScratchDir dir;
  write_standard(dir);
  dir.write("a.txt", "1\n2\n3\n");
  const ProcessResult r =
      run_in(dir, "out.csv\n", {"a.txt", "b.txt", "c.txt", "other.csv", "--help", "-"});
  expect_completed(r);
  EXPECT_EQ(r.out, standard_transcript());
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
  EXPECT_FALSE(dir.exists("other.csv"));
  EXPECT_EQ(dir.read("a.txt"), "1\n2\n3\n");
}

// ---- The combined file ----

TEST(CombinedFile, RowTimesFollowTheSampleInterval) {
  // 27 data records in component 3: 208 rows.
  ScratchDir dir;
  const ComponentFile c1 = component_file(1, numbered_records(1, 27));
  const ComponentFile c2 = component_file(2, numbered_records(2, 27));
  const ComponentFile c3 = component_file(3, numbered_records(3, 27));
  write_components(dir, c1, c2, c3);
  const ProcessResult r = run_in(dir, "out.csv\n");
  expect_completed(r);
  EXPECT_EQ(r.out, transcript(c1, 27, c2, 27, c3, 27));
  const std::string csv = dir.read("out.csv");
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
  std::string expected;
  for (int row = 1; row <= 208; ++row) {
    expected += csv_row(row, sample_value(1, row), sample_value(2, row), sample_value(3, row));
  }
  EXPECT_EQ(csv, expected);
}

TEST(CombinedFile, SampleTwoMakesTheRowAtTimePoint005) {
  struct Case {
    const char* x;
    const char* y;
    const char* z;
    const char* row;
  };
  const Case cases[] = {
      {"12.3456", "-0.0004", "-1234.5", "  0.005,    12.346,     0.000, -1234.500"},
      {"-0.0004", "123.4567", "-1234567.0", "  0.005,     0.000,   123.457,**********"},
      {"123456.7", "-123456.7", "-99999.99", "  0.005,123456.703,**********,-99999.992"},
      {"-99999.999", "999999.999", "999999.9", "  0.005,**********,**********,999999.875"},
      {"-0.5", "-0.0005", "0", "  0.005,    -0.500,    -0.001,     0.000"},
      {"-.00049", "1E3", "", "  0.005,     0.000,     0.100,     0.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    ScratchDir dir;
    const std::string first = record_of_fields({"1", c.x, "1", "1", "1", "1", "1", "1"});
    ComponentFile c1 = component_file(1, {first});
    ComponentFile c2 = component_file(2, {record_of_fields({"2", c.y})});
    ComponentFile c3 = component_file(3, {record_of_fields({"3", c.z}), record_of_values({})});
    write_components(dir, c1, c2, c3);
    const ProcessResult r = run_in(dir, "out.csv\n");
    expect_completed(r);
    const std::vector<std::string> rows = lines_of(dir.read("out.csv"));
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[1], c.row);
    EXPECT_EQ(rows[0], "  0.000,     0.000,     0.000,     0.000");
  }
}

TEST(CombinedFile, AnExistingLongerFileIsCutToTheNewRows) {
  ScratchDir dir;
  write_standard(dir);
  dir.write("out.csv", std::string(1000, 'Z') + "\n" + std::string(3000, 'Y'));
  const ProcessResult r = run_in(dir, "out.csv\n");
  expect_completed(r);
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
}

TEST(CombinedFile, NoRowsLeaveAnExistingFileAsItWasAndCreateAMissingOneEmpty) {
  struct Case {
    const char* what;
    int records;  // data records of component 3
    const char* counts;
  };
  const Case cases[] = {
      {"header only: nt = -8", 0, " i,in= 0 1\n nt= -8\n"},
      {"one data record: nt = 0", 1, " i,in= 1 9\n nt= 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ComponentFile c3 = component_file(3, numbered_records(3, c.records));
    const std::string console = dialogue_head() + echo_lines(1, standard(1)) + count_lines(3) +
                                echo_lines(2, standard(2)) + count_lines(3) + echo_lines(3, c3) +
                                c.counts + dialogue_tail();
    {
      ScratchDir dir;
      write_components(dir, standard(1), standard(2), c3);
      const std::string old = "an older file\nwith two lines";
      dir.write("out.csv", old);
      const ProcessResult r = run_in(dir, "out.csv\n");
      expect_completed(r);
      EXPECT_EQ(r.out, console);
      EXPECT_EQ(dir.read("out.csv"), old);
    }
    {
      ScratchDir dir;
      write_components(dir, standard(1), standard(2), c3);
      const ProcessResult r = run_in(dir, "out.csv\n");
      expect_completed(r);
      EXPECT_EQ(r.out, console);
      ASSERT_TRUE(dir.exists("out.csv"));
      EXPECT_EQ(fs::file_size(dir / "out.csv"), 0u);
    }
  }
}

TEST(CombinedFile, ShorterComponentsGiveZerosAndLongerOnesAreCut) {
  {
    // Components 1 and 2 shorter than component 3 (40 rows).
    ScratchDir dir;
    const ComponentFile c1 = component_file(1, numbered_records(1, 2));
    const ComponentFile c2 = component_file(2, numbered_records(2, 1));
    const ComponentFile c3 = component_file(3, numbered_records(3, 6));
    write_components(dir, c1, c2, c3);
    const ProcessResult r = run_in(dir, "out.csv\n");
    expect_completed(r);
    EXPECT_EQ(r.out, transcript(c1, 2, c2, 1, c3, 6));
    std::string expected;
    for (int row = 1; row <= 40; ++row) {
      expected += csv_row(row, row <= 16 ? sample_value(1, row) : 0.0f,
                          row <= 8 ? sample_value(2, row) : 0.0f, sample_value(3, row));
    }
    EXPECT_EQ(dir.read("out.csv"), expected);
    EXPECT_EQ(lines_of(dir.read("out.csv"))[16], "  0.080,     0.000,     0.000,   304.250");
  }
  {
    // Components 1 and 2 longer than component 3 (8 rows).
    ScratchDir dir;
    const ComponentFile c1 = component_file(1, numbered_records(1, 10));
    const ComponentFile c2 = component_file(2, numbered_records(2, 7));
    const ComponentFile c3 = component_file(3, numbered_records(3, 2));
    write_components(dir, c1, c2, c3);
    const ProcessResult r = run_in(dir, "out.csv\n");
    expect_completed(r);
    EXPECT_EQ(r.out, transcript(c1, 10, c2, 7, c3, 2));
    std::string expected;
    for (int row = 1; row <= 8; ++row) {
      expected += csv_row(row, sample_value(1, row), sample_value(2, row), sample_value(3, row));
    }
    EXPECT_EQ(dir.read("out.csv"), expected);
  }
}

// ---- The output name ----

TEST(OutputName, TheNameIsTheFirstEightyCharactersWithoutTrailingBlanks) {
  const std::string long_name = std::string(70, 'n') + "0123456789" + "abcdefghijklmnopqrst";
  const std::string first80 = long_name.substr(0, 80);
  struct Case {
    const char* what;
    std::string input;
    std::string file;  // the name of the file written
  };
  const Case cases[] = {
      {"plain name", "out.csv\n", "out.csv"},
      {"trailing blanks", "out.csv      \n", "out.csv"},
      {"leading blanks stay", "  out.csv\n", "  out.csv"},
      {"CR LF line end", "out.csv\r\n", "out.csv"},
      {"longer than 80", long_name + "\n", first80},
      {"longer than 80, without a line end", long_name, first80},
      {"exactly 80, without a line end", first80, first80},
      {"80 with trailing blanks", std::string(20, 'b') + std::string(60, ' ') + "tail\n",
       std::string(20, 'b')},
      {"a path into a subdirectory", "sub/out.csv\n", "sub/out.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_standard(dir);
    fs::create_directory(dir / "sub");
    const ProcessResult r = run_in(dir, c.input);
    expect_completed(r);
    EXPECT_EQ(r.out, standard_transcript());
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
      {"a name without its line end", "out.csv",
       "fmt: end of file\napparent state: unit 5 (unnamed)\nlast format: (a80)\n" + lately},
      {"empty name", "\n", "open: null file name\napparent state: unit 11 (unnamed)\n" + lately},
      {"blank name", "      \nout.csv\n",
       "open: null file name\napparent state: unit 11 (unnamed)\n" + lately},
      {"name of 80 blanks, then more", std::string(80, ' ') + "out.csv\n",
       "open: null file name\napparent state: unit 11 (unnamed)\n" + lately},
      {"missing directory", "missing/out.csv\n",
       "open: No such file or directory\napparent state: unit 11 named missing/out.csv\n" + lately},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    write_standard(dir);
    const ProcessResult r = run_in(dir, c.input);
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
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    ProcessOptions options{dir.path(), "out.csv\n", {}, {}, {}};
    if (geteuid() == 0) {
      // An unprivileged user, for whom the permissions hold.
      options.before_exec = [] {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(123);
      };
    }
    const ProcessResult r = run_program(options);
    const std::string console = dialogue_head() + echo_lines(1, standard(1)) + count_lines(3) +
                                echo_lines(2, standard(2)) + count_lines(3) + echo_lines(3, c3) +
                                count_lines(c.records) + dialogue_tail();
    EXPECT_EQ(r.out, console);
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

// The program with its standard streams on pipes, as a terminal session or a driving program
// would see it.
class PipedRun {
 public:
  explicit PipedRun(const fs::path& cwd) {
    previous_sigpipe_ =
        std::signal(SIGPIPE, SIG_IGN);  // a child that is gone must not end the test
    int in[2], out[2], err[2];
    if (!make_pipe(in) || !make_pipe(out) || !make_pipe(err)) throw std::runtime_error("pipe");
    std::string path = testing_support::program_path();
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(120);
      if (chdir(cwd.c_str()) != 0) _exit(121);
      std::signal(SIGPIPE, SIG_DFL);
      char* argv[] = {path.data(), nullptr};
      execv(argv[0], argv);
      _exit(122);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }

  ~PipedRun() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) close(fd);
    }
    std::signal(SIGPIPE, previous_sigpipe_);
  }

  PipedRun(const PipedRun&) = delete;
  PipedRun& operator=(const PipedRun&) = delete;

  // Collects standard output and error until `done` holds for what standard output shows, both
  // streams are closed, or `timeout` passes. Returns whether `done` held.
  bool read_until(const std::function<bool(const std::string&)>& done,
                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(out_text_)) {
      if (out_ < 0 && err_ < 0) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
      const int n = poll(fds, 2, static_cast<int>(left.count()));
      if (n < 0) return false;
      drain(fds[0], out_, out_text_);
      drain(fds[1], err_, err_text_);
    }
    return true;
  }

  void write_input(const std::string& bytes) {
    ASSERT_EQ(write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Closes standard input, collects everything up to the end of both streams and waits for the
  // program, all within `timeout`. Returns whether it ended in time.
  bool finish(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (in_ >= 0) {
      close(in_);
      in_ = -1;
    }
    read_until([](const std::string&) { return false; }, timeout);
    while (std::chrono::steady_clock::now() < deadline) {
      const pid_t p = waitpid(pid_, &status_, WNOHANG);
      if (p == pid_) {
        reaped_ = true;
        return true;
      }
      usleep(2000);
    }
    return false;
  }

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }
  int status() const { return status_; }

 private:
  static bool make_pipe(int fds[2]) {
    if (pipe(fds) != 0) return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
  }

  static void drain(const pollfd& p, int& fd, std::string& text) {
    if (fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else {
      close(fd);
      fd = -1;
    }
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string out_text_, err_text_;
  int status_ = 0;
  bool reaped_ = false;
  void (*previous_sigpipe_)(int) = SIG_DFL;
};

constexpr std::chrono::milliseconds kPromptWait{3000};
constexpr std::chrono::milliseconds kFinishWait{5000};

TEST(RegressionPromptUnseenThroughAPipe, TheNamePromptIsShownBeforeTheNameIsRead) {
  ScratchDir dir;
  write_standard(dir);
  PipedRun run(dir.path());
  const std::string transcript = standard_transcript();
  const bool prompted = run.read_until(
      [&](const std::string& out) { return out.size() >= transcript.size(); }, kPromptWait);
  EXPECT_TRUE(prompted) << "no prompt after " << kPromptWait.count() << " ms; the console shows:\n"
                        << run.out();
  EXPECT_EQ(run.out(), transcript);
  EXPECT_FALSE(dir.exists("out.csv"));
  run.write_input("out.csv\n");
  ASSERT_TRUE(run.finish(kFinishWait));
  EXPECT_TRUE(WIFEXITED(run.status())) << "status " << run.status() << "\n" << run.err();
  EXPECT_EQ(WIFEXITED(run.status()) ? WEXITSTATUS(run.status()) : -1, 0);
  EXPECT_EQ(run.out(), transcript);
  EXPECT_EQ(run.err(), "");
  EXPECT_EQ(dir.read("out.csv"), kStandardRows);
}

// ---- Regression: cutting an output that is not a regular file ----

TEST(RegressionCuttingAnOutputThatIsNotAFile, DevNullTakesTheRows) {
  ScratchDir dir;
  write_standard(dir);
  const ProcessResult r = run_in(dir, "/dev/null\n");
  expect_completed(r);
  EXPECT_EQ(r.out, standard_transcript());
  EXPECT_EQ(entries(dir.path()), component_names());
}

TEST(RegressionCuttingAnOutputThatIsNotAFile, DevStdoutStreamsTheRowsAfterTheDialogue) {
  ScratchDir dir;
  write_standard(dir);
  PipedRun run(dir.path());
  const std::string transcript = standard_transcript();
  EXPECT_TRUE(run.read_until(
      [&](const std::string& out) { return out.size() >= transcript.size(); }, kPromptWait));
  run.write_input("/dev/stdout\n");
  ASSERT_TRUE(run.finish(kFinishWait));
  EXPECT_TRUE(WIFEXITED(run.status())) << "status " << run.status() << "\n" << run.err();
  EXPECT_EQ(WIFEXITED(run.status()) ? WEXITSTATUS(run.status()) : -1, 0);
  EXPECT_EQ(run.err(), "");
  EXPECT_EQ(run.out(), transcript + kStandardRows);
  EXPECT_EQ(entries(dir.path()), component_names());
}

// ---- Regression: a failed write of the output taken for success ----

TEST(RegressionFailedWriteTakenForSuccess, AFullDeviceStopsTheRunOnTheFatalPath) {
  ScratchDir dir;
  write_standard(dir);
  const ProcessResult r = run_in(dir, "/dev/full\n");
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
