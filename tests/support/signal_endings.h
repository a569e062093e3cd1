// How a run ends: the signals the runtime handles, each with the message its handler writes on
// standard error and the way the process then ends, and expectations on a wait status.
#pragma once

#include <sys/wait.h>

#include <csignal>
#include <string>

#include <gtest/gtest.h>

namespace testing_support {

struct HandledSignal {
  const char* what;
  int signal;
  const char* message;  // what the handler writes on standard error
  int exit_code;        // the exit status it ends the process with; -1: it aborts
  int end_signal;       // the signal that ends the process; 0: it exits
};

inline constexpr HandledSignal kInterrupt{"interrupt", SIGINT, "Interrupt\n", 1, 0};
inline constexpr HandledSignal kTerminationRequest{"termination request", SIGTERM, "Killed\n", 1,
                                                   0};
inline constexpr HandledSignal kFloatingPointException{"floating-point exception", SIGFPE,
                                                       "Floating Exception\n", -1, SIGABRT};
inline constexpr HandledSignal kAbort{"abort", SIGABRT, "IOT Trap\n", -1, SIGABRT};

// These four end the process by their own default action once every unit is closed, with no
// message.
inline constexpr HandledSignal kHangUp{"hang-up", SIGHUP, "", -1, SIGHUP};
inline constexpr HandledSignal kQuit{"quit", SIGQUIT, "", -1, SIGQUIT};
inline constexpr HandledSignal kBrokenPipe{"broken pipe", SIGPIPE, "", -1, SIGPIPE};
inline constexpr HandledSignal kFileSizeLimit{"file-size limit", SIGXFSZ, "", -1, SIGXFSZ};

inline constexpr HandledSignal kHandledSignals[] = {
    kInterrupt, kTerminationRequest, kFloatingPointException, kAbort, kHangUp,
    kQuit,      kBrokenPipe,         kFileSizeLimit};

// A wait status in words.
inline std::string describe_status(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

// The process exited with `code`; `err`, its standard error, goes with a failure.
inline void expect_exit_status(int status, int code, const std::string& err = "") {
  EXPECT_TRUE(WIFEXITED(status)) << describe_status(status) << "\n" << err;
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, code) << describe_status(status) << "\n"
                                                                << err;
}

// The process was ended by the signal `sig`.
inline void expect_end_by_signal(int status, int sig) {
  EXPECT_TRUE(WIFSIGNALED(status)) << describe_status(status);
  EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, sig) << describe_status(status);
}

// The process ended as the handler of `s` ends it.
inline void expect_ending(int status, const HandledSignal& s) {
  if (s.end_signal == 0) {
    expect_exit_status(status, s.exit_code);
  } else {
    expect_end_by_signal(status, s.end_signal);
  }
}

}  // namespace testing_support
