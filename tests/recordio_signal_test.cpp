// The runtime's signal handlers and the guard that holds signals back while units change: real
// signals, in a child process of their own. How each handled signal ends the whole program, and
// a signal ignored at its start, are conversion_stress_test's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

#include "recordio/recordio.h"
#include "recordio/runtime.h"
#include "recordio/signal_guard.h"
#include "support/process.h"
#include "support/signal_endings.h"
#include "support/statements.h"

namespace {

using namespace recordio_testing;
using testing_support::expect_ending;
using testing_support::HandledSignal;
using testing_support::kHandledSignals;

// Runs `body` in a child working in `dir`, started as a shell starts a process, after the
// runtime's start-up as its process entry does it; the child STOPs when the body returns.
testing_support::ProcessResult run_scenario(const testing_support::ScratchDir& dir,
                                            const std::function<void()>& body) {
  return testing_support::run_in_child([&] {
    testing_support::start_as_a_shell_starts_it();
    if (chdir(dir.path().c_str()) != 0) _exit(120);
    recordio::f_setsig();
    recordio::f_init();
    std::atexit([] { recordio::f_exit(); });
    body();
    recordio::s_stop("", 0);
  });
}

// A signal that arrives while rows and console lines are still pending: the handler writes them
// out and cuts the file at its position before the process ends.
TEST(Signals, HandlerClosesEveryUnitWithOutputPending) {
  for (const HandledSignal& c : kHandledSignals) {
    SCOPED_TRACE(c.what);
    testing_support::ScratchDir dir;
    dir.write("out.csv", std::string(1000, 'q'));
    const testing_support::ProcessResult r = run_scenario(dir, [&] {
      open_file(kFileUnit, "out.csv", "unknown");
      write_the_row(kFileUnit);
      console_line("pending");
      raise(c.signal);
      _exit(99);  // not reached when the handler ends the process
    });
    expect_ending(r.status, c);
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, " pending\n");
    EXPECT_EQ(dir.read("out.csv"), std::string(kRow) + "\n");
  }
}

// The guard holds a signal back without a system call: a handler that finds a guard in place
// leaves its signal to it, and the outermost guard raises it again, once, as it ends.
recordio::SignalState guard_state;
volatile std::sig_atomic_t held = 0;
volatile std::sig_atomic_t delivered = 0;
extern "C" void count_signal(int sig) {
  if (recordio::hold_back(guard_state, sig)) {
    held = held + 1;
    return;
  }
  delivered = delivered + 1;
}

TEST(SignalGuard, ASignalMetUnderAGuardComesBackWhenTheOutermostGuardEnds) {
  held = 0;
  delivered = 0;
  struct sigaction counting {};
  struct sigaction before {};
  counting.sa_handler = count_signal;
  sigemptyset(&counting.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &counting, &before), 0);
  {
    recordio::SignalGuard outer(guard_state);
    {
      recordio::SignalGuard inner(guard_state);
      raise(SIGUSR1);
      raise(SIGUSR1);
      EXPECT_EQ(held, 2);
      EXPECT_EQ(delivered, 0);
    }
    EXPECT_EQ(delivered, 0) << "raised again while a guard was still in place";
  }
  EXPECT_EQ(delivered, 1) << "the held signal did not come back, or came back twice";
  raise(SIGUSR1);
  EXPECT_EQ(delivered, 2) << "a signal without a guard in place was held";
  EXPECT_EQ(held, 2);
  sigaction(SIGUSR1, &before, nullptr);
}

// The platform's files, except that the first write to the file unit's handle runs `before`
// just before it begins and `after` just after it, before the unit has noted it: a signal
// arriving just then.
class SignalAroundWrite final : public recordio::FileLayer {
 public:
  SignalAroundWrite(recordio::FileLayer& real, void (*before)(), void (*after)())
      : real_(real), before_(before), after_(after) {}
  int look_up(const char* p, recordio::FileFacts& f) override { return real_.look_up(p, f); }
  recordio::Opened open(const char* p, recordio::OpenFor o, const recordio::FileFacts& f) override {
    return real_.open(p, o, f);
  }
  int describe(int h, recordio::FileFacts& f) override { return real_.describe(h, f); }
  int duplicate(int h, int& copy) override { return real_.duplicate(h, copy); }
  recordio::Transfer read(int h, char* to, std::size_t n) override { return real_.read(h, to, n); }
  recordio::Transfer write(int h, const char* from, std::size_t n) override {
    const bool first = h > recordio::kStandardError && !done_;
    done_ = done_ || first;
    if (first && before_ != nullptr) before_();
    const recordio::Transfer written = real_.write(h, from, n);
    if (first && after_ != nullptr) after_();
    return written;
  }
  int wait(int h, bool writing) override { return real_.wait(h, writing); }
  std::size_t write_now(int h, const char* from, std::size_t n) override {
    return real_.write_now(h, from, n);
  }
  void hand_back(int h, std::size_t n) override { real_.hand_back(h, n); }
  int cut_here(int h, bool rewriting) override { return real_.cut_here(h, rewriting); }
  int close(int h) override { return real_.close(h); }

 private:
  recordio::FileLayer& real_;
  void (*before_)();
  void (*after_)();
  bool done_ = false;
};

// Two rows written out at CLOSE, with `after_write` run inside the write; returns the child.
testing_support::ProcessResult rows_written_out_with(const testing_support::ScratchDir& dir,
                                                     void (*after_write)()) {
  return run_scenario(dir, [after_write] {
    static SignalAroundWrite files(recordio::platform_files(), nullptr, after_write);
    open_file(kFileUnit, text80("out.csv"), "unknown");
    write_the_row(kFileUnit);
    write_the_row(kFileUnit);
    recordio::runtime().units.use_files(&files);
    close_file(kFileUnit);
  });
}

int signal_to_raise = 0;

// A signal that arrives while a unit writes out its block waits for the write to be noted: the
// handler then finds nothing more to write, and the file holds each row once.
TEST(SignalGuard, ASignalDuringAWriteOutLeavesEachRowOnce) {
  for (const HandledSignal& c : kHandledSignals) {
    if (c.signal == SIGFPE || c.signal == SIGABRT) continue;  // the process's own: next test
    SCOPED_TRACE(c.what);
    testing_support::ScratchDir dir;
    signal_to_raise = c.signal;
    const testing_support::ProcessResult r =
        rows_written_out_with(dir, [] { raise(signal_to_raise); });
    expect_ending(r.status, c);
    EXPECT_EQ(r.err, c.message);
    const std::string row = std::string(kRow) + "\n";
    EXPECT_EQ(dir.read("out.csv"), row + row);
  }
}

// An abort of the process's own is never held back, even in the middle of a write-out: held, it
// would end the process at once with no message and no unit closed.
TEST(SignalGuard, TheProcesssOwnAbortIsNotHeldBack) {
  testing_support::ScratchDir dir;
  const testing_support::ProcessResult r = rows_written_out_with(dir, [] { std::abort(); });
  expect_ending(r.status, testing_support::kAbort);
  EXPECT_EQ(r.err, testing_support::kAbort.message);
}

// A signal held back by the guard just before a write that then waits for good (a FIFO full,
// its reader reading nothing) is not there to interrupt that write: the run still ends by it.
// An alarm ends the child if it hangs.
TEST(SignalGuard, RegressionHeldSignalHangsAStalledWrite) {
  testing_support::ScratchDir dir;
  ASSERT_EQ(mkfifo((dir.path() / "stalled").c_str(), 0600), 0);
  const testing_support::ProcessResult r = run_scenario(dir, [] {
    alarm(10);
    // A reader that never reads, and the FIFO filled to the brim.
    const int filler = open("stalled", O_RDWR | O_NONBLOCK);
    static const char block[4096] = {};
    while (write(filler, block, sizeof block) > 0) {
    }
    static SignalAroundWrite files(
        recordio::platform_files(), [] { raise(SIGTERM); }, nullptr);
    open_file(kFileUnit, text80("stalled"), "unknown");
    write_the_row(kFileUnit);
    recordio::runtime().units.use_files(&files);
    close_file(kFileUnit);
  });
  expect_ending(r.status, testing_support::kTerminationRequest);
  EXPECT_EQ(r.err, testing_support::kTerminationRequest.message);
}

}  // namespace
