// The runtime in-process over a fake of its system calls: files live in memory, standard input
// is a string, standard output and error are captured, and any call can be made to fail, to move
// fewer bytes than asked, or to be interrupted. A fatal error unwinds to the test through the
// crash handler instead of ending the process.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "recordio/system_calls.h"

namespace testing_support {

class FakeSystem final : public recordio::SystemCalls {
 public:
  enum Call { kOpen, kStat, kFstat, kDuplicate, kRead, kWrite, kPoll, kLseek, kFtruncate, kClose };

  // Files by name, and what standard input holds; standard output and error as written.
  std::map<std::string, std::string> files;
  std::string input;
  std::string out, err;
  bool console_is_terminal = false;
  // Files of `files` that may be read but not written: opening one for writing fails (EACCES).
  std::set<std::string> read_only;
  // Names that are no file: a directory opens for reading only and every read of it fails
  // (EISDIR); a full device takes no byte, every write to it fails (ENOSPC).
  std::set<std::string> directories, full_devices;

  // The call's next uses, after `after` that succeed, fail with `error`; `times` of them.
  void fail(Call call, int error, int after = 0, int times = 1);
  // Reads and writes move at most this many bytes at once.
  std::size_t most_per_transfer = static_cast<std::size_t>(-1);
  // Every read and write is first interrupted (EINTR) once.
  bool interrupt_transfers = false;
  // The bytes each write moved, in order, over every descriptor.
  std::vector<std::size_t> write_sizes;
  // How often each call was made, failed calls included.
  int count(Call call) const { return counts_[call]; }
  // How many descriptors are open, the standard streams included once a call has used one.
  std::size_t open_descriptors() const { return open_.size(); }

  int open(const char* path, int flags, mode_t mode) override;
  int stat(const char* path, struct stat* st) override;
  int fstat(int fd, struct stat* st) override;
  int duplicate(int fd, int lowest) override;
  ssize_t read(int fd, void* to, std::size_t n) override;
  ssize_t write(int fd, const void* from, std::size_t n) override;
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override;
  off_t lseek(int fd, off_t offset, int whence) override;
  int ftruncate(int fd, off_t length) override;
  int close(int fd) override;
  bool is_terminal(int fd) override;

 private:
  struct Descriptor {
    std::string* bytes;  // the file, the input, or a captured stream
    off_t position;
    mode_t type;  // S_IFREG, S_IFIFO, S_IFDIR or S_IFCHR
    bool readable, writable, append;
    int transfer_error = 0;  // what every read and write fails with
    bool regular() const { return type == S_IFREG; }
  };
  struct Failure {
    int error = 0, after = 0, times = 0;
  };
  // Counts the call; true (errno set) when it is to fail.
  bool fails(Call call);
  Descriptor* descriptor(int fd);
  // The descriptor a read or write may move bytes through; nullptr (errno set) when the call is
  // interrupted, made to fail, or not allowed on it.
  Descriptor* transfer(Call call, int fd, bool writing);

  std::map<int, Descriptor> open_{};
  std::string no_bytes_{};  // what a directory or a device holds
  std::array<Failure, kClose + 1> failures_{};
  std::array<int, kClose + 1> counts_{};
  bool interrupted_ = false;
};

// The fatal path as a test sees it in-process: the lines on standard error, then this exception.
struct Crashed {};

// Runs the runtime over a fresh FakeSystem: its start-up as the process entry does it (units 0,
// 5 and 6 preconnected), with a crash handler that throws Crashed. On the way out every unit is
// closed and the real system calls put back.
class InProcessRuntime {
 public:
  InProcessRuntime();
  ~InProcessRuntime();
  InProcessRuntime(const InProcessRuntime&) = delete;
  InProcessRuntime& operator=(const InProcessRuntime&) = delete;

  FakeSystem& system() { return system_; }

  // What the end of the process does after a STOP, short of ending it: every unit closed and a
  // failure met on the way reported on the fatal path (it throws Crashed). No statement runs
  // after it: the standard streams are closed too.
  void stop();
  // Runs `body`, then stop(): true when the run ended normally, false when it took the fatal path.
  bool run(const std::function<void()>& body);

 private:
  FakeSystem system_;
};

}  // namespace testing_support
