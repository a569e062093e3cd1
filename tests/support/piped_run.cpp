#include "support/piped_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "support/process.h"

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kReapStep{2};

int milliseconds_until(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  // Rounded up, so that a wait does not spin through its last millisecond.
  return left.count() <= 0 ? 0 : static_cast<int>(left.count()) + 1;
}

void close_pair(int fds[2]) {
  for (int k = 0; k < 2; ++k) {
    if (fds[k] >= 0) ::close(fds[k]);
    fds[k] = -1;
  }
}

// Takes one read's worth from a stream that poll reported; closes it at its end or on an error.
// Returns whether anything changed.
bool drain(const pollfd& p, int& fd, std::string& text) {
  if (fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) return false;
  char buffer[65536];
  ssize_t n;
  do {
    n = ::read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  } else {
    ::close(fd);
    fd = -1;
  }
  return true;
}

}  // namespace

PipedRun::PipedRun(PipedRunOptions options) {
  std::vector<std::string> args{options.program.empty() ? program_path() : options.program};
  args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    close_pair(in);
    close_pair(out);
    close_pair(err);
    throw std::runtime_error("pipe2 failed");
  }
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    if (dup2(in[0], STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0 ||
        dup2(err[1], STDERR_FILENO) < 0) {
      _exit(120);
    }
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(121);
    start_as_a_shell_starts_it();
    if (options.before_exec) options.before_exec();
    execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (pid_ < 0) {
    for (int fd : {in_, out_, err_}) ::close(fd);
    in_ = out_ = err_ = -1;
    throw std::runtime_error("fork failed");
  }
}

PipedRun::~PipedRun() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) ::close(fd);
  }
}

void PipedRun::collect(Clock::time_point deadline) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};  // a negative fd is skipped
  const int n = poll(fds, 2, milliseconds_until(deadline));
  if (n <= 0) return;
  drain(fds[0], out_, out_text_);
  drain(fds[1], err_, err_text_);
}

void PipedRun::try_reap() {
  if (pid_ <= 0 || status_) return;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
}

bool PipedRun::read_until(const std::function<bool(const std::string&)>& done,
                          std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done(out_text_)) {
    if (out_ < 0 && err_ < 0) return false;
    if (Clock::now() >= deadline) return false;
    collect(deadline);
  }
  return true;
}

bool PipedRun::wait_for_output(std::string_view text, std::chrono::milliseconds timeout) {
  return read_until([text](const std::string& out) { return out.find(text) != std::string::npos; },
                    timeout);
}

bool PipedRun::write_input(std::string_view bytes) {
  if (in_ < 0) return false;
  // A child that has gone closes the pipe: the write then fails with EPIPE instead of raising
  // SIGPIPE here.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previous);
  bool ok = true;
  while (!bytes.empty()) {
    const ssize_t n = ::write(in_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  sigaction(SIGPIPE, &previous, nullptr);
  return ok;
}

void PipedRun::close_input() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

bool PipedRun::send_signal(int sig) {
  try_reap();
  if (pid_ <= 0 || status_) return false;
  return kill(pid_, sig) == 0;
}

bool PipedRun::still_running_after(std::chrono::milliseconds span) {
  const auto deadline = Clock::now() + span;
  while (!status_ && Clock::now() < deadline) {
    if (out_ >= 0 || err_ >= 0) {
      collect(deadline);
    } else {
      std::this_thread::sleep_until(deadline);
    }
    try_reap();
  }
  try_reap();
  return !status_;
}

const std::string& PipedRun::error_so_far() {
  while (err_ >= 0) {
    pollfd p{err_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0 || !drain(p, err_, err_text_)) break;
  }
  return err_text_;
}

std::optional<int> PipedRun::finish(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    try_reap();
    if (status_) break;
    const auto now = Clock::now();
    if (now >= deadline) return std::nullopt;
    const auto step = std::min(deadline, now + kReapStep);
    if (out_ >= 0 || err_ >= 0) {
      collect(step);
    } else {
      std::this_thread::sleep_until(step);
    }
  }
  // The child has ended: its streams give everything up to their end.
  while ((out_ >= 0 || err_ >= 0) && Clock::now() < deadline) collect(deadline);
  return status_;
}

}  // namespace testing_support
