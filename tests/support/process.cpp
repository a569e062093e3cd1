#include "support/process.h"

#include "support/signal_endings.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace fs = std::filesystem;

bool ProcessResult::exited() const {
  return WIFEXITED(status);
}
int ProcessResult::exit_code() const {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
bool ProcessResult::signaled() const {
  return WIFSIGNALED(status);
}
int ProcessResult::signal() const {
  return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "cdmg2csv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Restore permissions a test may have taken away, so that everything can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const {
  write_file(path_ / name, bytes);
}
std::string ScratchDir::read(const std::string& name) const {
  return read_file(path_ / name);
}
void ScratchDir::open_to_others() const {
  fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
}

bool ScratchDir::exists(const std::string& name) const {
  return fs::exists(path_ / name);
}

std::string program_path() {
  // The tests of the whole program may be run against another build of it, to see a
  // regression test fail on the build before its fix: CDMG2CSV_PROGRAM names that build.
  if (const char* other = std::getenv("CDMG2CSV_PROGRAM")) return other;
  return CDMG2CSV_PATH;
}

namespace {

bool become_unprivileged() {
  return setgroups(0, nullptr) == 0 &&
         setresgid(kUnprivilegedUser, kUnprivilegedUser, kUnprivilegedUser) == 0 &&
         setresuid(kUnprivilegedUser, kUnprivilegedUser, kUnprivilegedUser) == 0;
}

}  // namespace

bool permissions_can_hold() {
  if (geteuid() != 0) return true;
  const ProcessResult r = run_in_child([] {
    _exit(become_unprivileged() && getuid() == kUnprivilegedUser && geteuid() == kUnprivilegedUser
              ? 0
              : 1);
  });
  return r.exited() && r.exit_code() == 0;
}

std::function<void()> where_permissions_hold() {
  if (geteuid() != 0) return {};
  return [] {
    if (!become_unprivileged()) _exit(125);
  };
}

namespace {

// Standard streams of a child, backed by files in a scratch directory.
struct Capture {
  ScratchDir dir;
  fs::path in = dir / "stdin";
  fs::path out = dir / "stdout";
  fs::path err = dir / "stderr";

  explicit Capture(const std::string& input) { write_file(in, input); }

  // In the child: standard input, output and error onto the files (or the given output path).
  void redirect(const std::string& stdout_path) const {
    const int i = open(in.c_str(), O_RDONLY);
    const int o = open(stdout_path.empty() ? out.c_str() : stdout_path.c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (i < 0 || o < 0 || e < 0) _exit(120);
    dup2(i, 0);
    dup2(o, 1);
    dup2(e, 2);
    close(i);
    close(o);
    close(e);
  }

  ProcessResult finish(pid_t pid) const {
    ProcessResult r;
    while (waitpid(pid, &r.status, 0) < 0) {
    }
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
  }
};

}  // namespace

ProcessResult run_program(const ProcessOptions& options) {
  Capture capture(options.input);
  std::vector<std::string> args{program_path()};
  args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    capture.redirect(options.stdout_path);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(121);
    if (options.before_exec) options.before_exec();
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(122);
  }
  return capture.finish(pid);
}

void start_as_a_shell_starts_it() {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  for (const HandledSignal& s : kHandledSignals) std::signal(s.signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

ProcessResult run_in_child(const std::function<void()>& body, const std::string& input) {
  Capture capture(input);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    capture.redirect({});
    body();
    std::exit(0);
  }
  return capture.finish(pid);
}

}  // namespace testing_support
