// The runtime's signal handlers, seen from outside: a small program over the runtime writes the
// line " waiting" and blocks in a skip READ of standard input (a pipe kept open here); the test
// sends it a signal and judges its standard error and how it ended.
//
// Every wait is bounded: a probe that does not show up or does not end fails the test and is
// killed.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "recordio/recordio.h"
#include "support/piped_run.h"
#include "support/process.h"

namespace {

using testing_support::PipedRun;
constexpr std::chrono::milliseconds kPatience{10000};

// The probe with its three standard streams on pipes held by the test; with `ignore_interrupt`
// the interrupt signal is ignored when it starts.
testing_support::PipedRunOptions probe_options(bool ignore_interrupt) {
  testing_support::PipedRunOptions options;
  options.program = SIGNAL_PROBE_PATH;
  if (ignore_interrupt) options.before_exec = [] { std::signal(SIGINT, SIG_IGN); };
  return options;
}

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
  PipedRun probe(probe_options(false));
  ASSERT_TRUE(probe.wait_for_output(kWaiting, kPatience))
      << "no \" waiting\" line: " << probe.out();
  ASSERT_TRUE(probe.write_input("go\n"));
  const std::optional<int> status = probe.finish(kPatience);
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
    PipedRun probe(probe_options(false));
    ASSERT_TRUE(probe.wait_for_output(kWaiting, kPatience))
        << "no \" waiting\" line: " << probe.out();
    ASSERT_EQ(kill(probe.pid(), c.signal), 0);
    const std::optional<int> status = probe.finish(kPatience);
    ASSERT_TRUE(status) << "the probe did not end";
    expect_ending(*status, c.ending);
    EXPECT_EQ(probe.err(), c.message);
    EXPECT_EQ(probe.out(), kWaiting);
  }
}

TEST(Signals, AnInterruptIgnoredAtStartStaysIgnored) {
  PipedRun probe(probe_options(true));
  ASSERT_TRUE(probe.wait_for_output(kWaiting, kPatience))
      << "no \" waiting\" line: " << probe.out();
  ASSERT_EQ(kill(probe.pid(), SIGINT), 0);
  EXPECT_TRUE(probe.still_running_after(std::chrono::milliseconds(300)))
      << "the ignored interrupt ended the probe";
  EXPECT_EQ(probe.error_so_far(), "");
  ASSERT_EQ(kill(probe.pid(), SIGTERM), 0);
  const std::optional<int> status = probe.finish(kPatience);
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
