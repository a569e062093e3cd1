// Running the program, or a piece of the runtime, in a child process and capturing what it did.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  int status = 0;  // as waitpid reports it
  std::string out;
  std::string err;

  bool exited() const;
  int exit_code() const;  // -1 unless exited()
  bool signaled() const;
  int signal() const;  // 0 unless signaled()
};

// Members carry default initializers, so that an initializer may leave out the last ones.
struct ProcessOptions {
  std::filesystem::path cwd{};            // empty: the current directory
  std::string input{};                    // standard input, from a file holding these bytes
  std::string stdout_path{};              // when set, standard output goes to this path
  std::vector<std::string> extra_args{};  // arguments after the program name
  std::function<void()> before_exec{};    // runs in the child just before exec
};

// Runs build/cdmg2csv.
ProcessResult run_program(const ProcessOptions& options = {});

// Runs `body` in a forked child with standard input holding `input` and standard output and
// error captured; `body` is expected to end the process (STOP, the fatal path, a signal). A
// body that returns ends the child with status 0 through exit(). The test's own buffered output
// is written out before the fork, so that none of it reaches the child's streams.
ProcessResult run_in_child(const std::function<void()>& body, const std::string& input = "");

// In a child: no core files, and the handled signals and the signal mask as a process started by
// a shell has them, whatever the test runner ignores or blocks (a runner under nohup ignores
// hang-ups).
void start_as_a_shell_starts_it();

// The path of the program under test.
std::string program_path();

// The user that permission tests run as: root passes every permission check.
inline constexpr uid_t kUnprivilegedUser = 65534;

// Whether a run can be made for which permission bits hold: the tests do not run as root, or a
// child of this process can become the unprivileged user.
bool permissions_can_hold();

// For ProcessOptions::before_exec, a run for which permission bits hold: as root, the child gives
// up root for the unprivileged user (or exits with status 125); otherwise nothing.
std::function<void()> where_permissions_hold();

// A fresh directory, removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;
  // Lets other users into the directory (mode 0755), for runs as the unprivileged user.
  void open_to_others() const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_support
