// A program run with its three standard streams on pipes held by the test, as a terminal session
// or a driving program would see it: the test reads what it shows, types input, sends it signals
// and judges how it ended.
//
// Every wait is bounded by the caller's timeout. A child still running when the object goes is
// killed and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Members carry default initializers, so that designated initializers may name only some.
struct PipedRunOptions {
  std::string program{};                  // empty: the program under test (program_path())
  std::filesystem::path cwd{};            // empty: the current directory
  std::vector<std::string> extra_args{};  // arguments after the program name
  // Runs in the child just before exec, after the streams, the working directory and the signal
  // dispositions have been set up (for example to ignore SIGINT, or to drop privileges). The
  // child starts with no signal blocked, the handled signals and SIGPIPE at their defaults and no
  // core files.
  std::function<void()> before_exec{};
};

class PipedRun {
 public:
  // Starts the program; throws std::runtime_error when the pipes or the child cannot be made.
  explicit PipedRun(PipedRunOptions options);
  ~PipedRun();

  PipedRun(const PipedRun&) = delete;
  PipedRun& operator=(const PipedRun&) = delete;

  // Collects standard output and error until `done` holds for what standard output shows, both
  // streams are closed, or `timeout` passes. Returns whether `done` held.
  bool read_until(const std::function<bool(const std::string&)>& done,
                  std::chrono::milliseconds timeout);

  // Collects until standard output holds `text` somewhere, within `timeout`.
  bool wait_for_output(std::string_view text, std::chrono::milliseconds timeout);

  // Writes all of `bytes` to standard input. False when standard input is closed or the write
  // fails (a child that has gone does not end the test through SIGPIPE).
  bool write_input(std::string_view bytes);

  // Closes standard input: the child reads the end of its input.
  void close_input();

  // Sends `sig` to the child, unless it has already been reaped. Returns whether it was sent.
  bool send_signal(int sig);

  // Waits `span` while collecting output, then reports whether the child still runs.
  bool still_running_after(std::chrono::milliseconds span);

  // Collects what standard error holds so far, without waiting, and returns all of it.
  const std::string& error_so_far();

  // Waits for the child to end, collecting standard output and error up to their end, all within
  // `timeout`. Standard input is left as it is. Returns the wait status, or nothing when the
  // child did not end in time (it is then killed when the object goes).
  std::optional<int> finish(std::chrono::milliseconds timeout);

  const std::string& out() const { return out_text_; }
  const std::string& err() const { return err_text_; }
  // The wait status once the child has been reaped.
  std::optional<int> status() const { return status_; }

 private:
  // Waits at most until `deadline` for either stream to be ready and takes what is there.
  void collect(std::chrono::steady_clock::time_point deadline);
  // Reaps the child if it has ended.
  void try_reap();

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string out_text_, err_text_;
  std::optional<int> status_;
};

}  // namespace testing_support
