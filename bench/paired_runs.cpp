// Times two commands in alternating runs (A B A B ...), each from its spawn to its reap, and
// prints the median of each and the median of the pairwise ratios A / B. Each command is started
// as `sh -c 'exec COMMAND'`, so the shell gives way to the command itself; this harness's own
// start-up lies outside every interval.
//   paired_runs RUNS 'COMMAND A' 'COMMAND B'
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Microseconds from spawn to reap; exits the harness when the command fails.
double timed_run(const std::string& command) {
  const std::string script = "exec " + command;
  char sh[] = "sh";
  char dash_c[] = "-c";
  std::string text = script;
  char* argv[] = {sh, dash_c, text.data(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) {
    std::perror("posix_spawn");
    std::exit(2);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    std::exit(2);
  }
  const auto stop = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "paired_runs: '%s' failed (status %d)\n", command.c_str(), status);
    std::exit(2);
  }
  return std::chrono::duration<double, std::micro>(stop - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::atoi(argv[1]) < 1) {
    std::fprintf(stderr, "usage: paired_runs RUNS 'COMMAND A' 'COMMAND B'\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::vector<double> a, b, ratio;
  for (int k = 0; k < runs; ++k) {
    a.push_back(timed_run(argv[2]));
    b.push_back(timed_run(argv[3]));
    ratio.push_back(a.back() / b.back());
  }
  std::printf("A median %.3f ms, B median %.3f ms, median of %d pairwise ratios A/B %.3f\n",
              median(a) / 1e3, median(b) / 1e3, runs, median(ratio));
  return 0;
}
