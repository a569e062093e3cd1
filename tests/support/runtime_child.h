// Statements of the record I/O runtime run in a child process of their own, for what only a
// real process shows: real signals and their handlers, the abort that ends the fatal path, and
// real devices.
//
// The scenario runs in a forked child working in a scratch directory, after the runtime's
// start-up as its process entry does it, and is judged by what the child left behind: its
// standard output and error, its files, and how it ended. Everything else runs in-process
// (support/fake_files.h).
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "recordio/recordio.h"
#include "support/process.h"
#include "support/statements.h"

namespace recordio_testing {

// Exit status of a child that could not set its scenario up (not a result of the runtime).
inline constexpr int kSetupFailed = 77;

// --- Running a scenario

// The runtime's start-up as its process entry does it.
inline void start_up() {
  recordio::f_setsig();
  recordio::f_init();
  std::atexit([] { recordio::f_exit(); });
}

// Runs `body` in a child working in `dir`, with no core files, after the runtime's start-up; the
// child STOPs when the body returns. `before_start_up` runs first (redirections, privileges);
// standard input holds `input`.
inline testing_support::ProcessResult run_scenario(
    const testing_support::ScratchDir& dir, const std::function<void()>& body,
    const std::function<void()>& before_start_up = {}, const std::string& input = "") {
  std::fflush(nullptr);  // nothing of the test's own output may reach the child's streams
  return testing_support::run_in_child(
      [&] {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        // The child starts as a process started by a shell would, whatever the test runner
        // ignores or blocks (a runner under nohup ignores hang-ups).
        for (int sig : {SIGINT, SIGTERM, SIGFPE, SIGABRT, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
          std::signal(sig, SIG_DFL);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (chdir(dir.path().c_str()) != 0) _exit(kSetupFailed);
        if (before_start_up) before_start_up();
        start_up();
        body();
        recordio::s_stop("", 0);
      },
      input);
}

// A child that ended through abort, as the runtime's fatal path ends it.
inline bool aborted(const testing_support::ProcessResult& r) {
  return r.signaled() && r.signal() == SIGABRT;
}

}  // namespace recordio_testing
