// The runtime's signal handlers, seen from outside: a small program over the runtime writes the
// line " waiting" and blocks in a skip READ of standard input (a pipe kept open here); the test
// sends it a signal and judges its standard error and how it ended.
//
// Every wait is bounded: a probe that does not show up or does not end fails the test and is
// killed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "recordio/recordio.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

// The probe with its three standard streams on pipes held by the test.
class Probe {
 public:
  // Starts the probe; with `ignore_interrupt` the interrupt signal is ignored when it starts.
  explicit Probe(bool ignore_interrupt) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2 failed";
      return;
    }
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int sig : {SIGINT, SIGTERM, SIGFPE, SIGABRT}) std::signal(sig, SIG_DFL);
      if (ignore_interrupt) std::signal(SIGINT, SIG_IGN);
      execl(SIGNAL_PROBE_PATH, SIGNAL_PROBE_PATH, static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) ADD_FAILURE() << "fork failed";
  }

  ~Probe() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    for (int fd : {input_, out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  pid_t pid() const { return pid_; }
  int input() const { return input_; }

  // Reads standard output until it holds `text` or the time is up.
  bool wait_for_output(const std::string& text) {
    const auto deadline = Clock::now() + kPatience;
    while (out_text_.find(text) == std::string::npos) {
      if (!read_some(out_, out_text_, deadline)) return false;
    }
    return true;
  }

  // Waits for the probe to end, at most until the time is up; its wait status.
  std::optional<int> wait_for_end() {
    const auto deadline = Clock::now() + kPatience;
    while (!status_) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = status;
        break;
      }
      if (Clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The probe has ended: its pipes give everything up to their end.
    const auto drain_deadline = Clock::now() + kPatience;
    while (read_some(out_, out_text_, drain_deadline)) {
    }
    while (read_some(err_, err_text_, drain_deadline)) {
    }
    return status_;
  }

  // True while the probe runs; waits `span` first.
  bool still_running_after(std::chrono::milliseconds span) {
    std::this_thread::sleep_for(span);
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) status_ = status;
    return done == 0;
  }

  // What standard error holds so far, without waiting.
  std::string error_so_far() {
    while (read_some(err_, err_text_, Clock::now())) {
    }
    return err_text_;
  }

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }

 private:
  // Appends what one read of `fd` gives; false at the end of the pipe or when nothing came in
  // time.
  static bool read_some(int fd, std::string& into, Clock::time_point deadline) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(left.count() > 0 ? left.count() : 0));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      into.append(buffer, static_cast<std::size_t>(n));
      return true;
    }
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  std::optional<int> status_;
};

constexpr char kWaiting[] = " waiting\n";

struct Ending {
  int exit_code;  // -1: ended by a signal
  int by_signal;  // 0: exited
};

std::string describe(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

void expect_ending(int status, const Ending& e) {
  if (e.by_signal == 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == e.exit_code) << describe(status);
  } else {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == e.by_signal) << describe(status);
  }
}

TEST(Signals, ProbeWithoutASignalStopsNormally) {
  Probe probe(false);
  ASSERT_TRUE(probe.wait_for_output(kWaiting)) << "no \" waiting\" line: " << probe.out();
  ASSERT_EQ(::write(probe.input(), "go\n", 3), 3);
  const std::optional<int> status = probe.wait_for_end();
  ASSERT_TRUE(status) << "the probe did not end";
  expect_ending(*status, {0, 0});
  EXPECT_EQ(probe.out(), kWaiting);
  EXPECT_EQ(probe.err(), "");
}

TEST(Signals, EachHandledSignalWritesItsMessageAndEndsTheRun) {
  struct Case {
    const char* what;
    int signal;
    const char* message;
    Ending ending;
  };
  const Case cases[] = {
      {"interrupt", SIGINT, "Interrupt\n", {1, 0}},
      {"termination request", SIGTERM, "Killed\n", {1, 0}},
      {"floating-point exception", SIGFPE, "Floating Exception\n", {-1, SIGABRT}},
      {"abort", SIGABRT, "IOT Trap\n", {-1, SIGABRT}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Probe probe(false);
    ASSERT_TRUE(probe.wait_for_output(kWaiting)) << "no \" waiting\" line: " << probe.out();
    ASSERT_EQ(kill(probe.pid(), c.signal), 0);
    const std::optional<int> status = probe.wait_for_end();
    ASSERT_TRUE(status) << "the probe did not end";
    expect_ending(*status, c.ending);
    EXPECT_EQ(probe.err(), c.message);
    EXPECT_EQ(probe.out(), kWaiting);
  }
}

TEST(Signals, AnInterruptIgnoredAtStartStaysIgnored) {
  Probe probe(true);
  ASSERT_TRUE(probe.wait_for_output(kWaiting)) << "no \" waiting\" line: " << probe.out();
  ASSERT_EQ(kill(probe.pid(), SIGINT), 0);
  EXPECT_TRUE(probe.still_running_after(std::chrono::milliseconds(300)))
      << "the ignored interrupt ended the probe";
  EXPECT_EQ(probe.error_so_far(), "");
  ASSERT_EQ(kill(probe.pid(), SIGTERM), 0);
  const std::optional<int> status = probe.wait_for_end();
  ASSERT_TRUE(status) << "the probe did not end";
  expect_ending(*status, {1, 0});
  EXPECT_EQ(probe.err(), "Killed\n");
  EXPECT_EQ(probe.out(), kWaiting);
}

// A signal that arrives while rows and console lines are still pending: the handler writes them
// out and cuts the file at its position before the process ends.
TEST(Signals, HandlerClosesEveryUnitWithOutputPending) {
  using namespace recordio;
  struct Case {
    const char* what;
    int signal;
    const char* message;
    Ending ending;
  };
  const Case cases[] = {
      {"interrupt", SIGINT, "Interrupt\n", {1, 0}},
      {"termination request", SIGTERM, "Killed\n", {1, 0}},
      {"floating-point exception", SIGFPE, "Floating Exception\n", {-1, SIGABRT}},
      {"abort", SIGABRT, "IOT Trap\n", {-1, SIGABRT}},
  };
  static constexpr char kFormat2000[] =
      "(F7.3,3("
      "\x02,\x02"
      ",F10.3))";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::ScratchDir dir;
    dir.write("out.csv", std::string(1000, 'q'));
    const std::string name = (dir / "out.csv").string();
    std::fflush(nullptr);
    const testing_support::ProcessResult r = testing_support::run_in_child([&] {
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      f_setsig();
      f_init();
      const olist open{0, 11, name.data(), name.size(), "unknown", nullptr, nullptr, 0, nullptr};
      f_open(&open);
      float t = 0.005f, x = 12.3456f, y = -0.0004f, z = -1234.5f;
      const cilist row{0, 11, 0, kFormat2000, 0};
      s_wsfe(&row);
      do_fio(1, &t, sizeof t);
      do_fio(1, &x, sizeof x);
      do_fio(1, &y, sizeof y);
      do_fio(1, &z, sizeof z);
      e_wsfe();
      const cilist console{0, 6, 0, nullptr, 0};
      s_wsle(&console);
      do_lio(kTypeCharacter, 1, "pending", 7);
      e_wsle();
      raise(c.signal);
      _exit(99);  // not reached when the handler ends the process
    });
    expect_ending(r.status, c.ending);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, " pending\n");
    EXPECT_EQ(dir.read("out.csv"), "  0.005,    12.346,     0.000, -1234.500\n");
  }
}

}  // namespace
