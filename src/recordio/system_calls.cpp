#include "system_calls.h"

#include <fcntl.h>
#include <unistd.h>

namespace recordio {
namespace {

class PosixCalls final : public SystemCalls {
 public:
  int open(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  int stat(const char* path, struct stat* st) override { return ::stat(path, st); }
  int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
  int duplicate(int fd, int lowest) override { return ::fcntl(fd, F_DUPFD_CLOEXEC, lowest); }
  ssize_t read(int fd, void* to, std::size_t n) override { return ::read(fd, to, n); }
  ssize_t write(int fd, const void* from, std::size_t n) override { return ::write(fd, from, n); }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    return ::poll(fds, count, timeout_ms);
  }
  off_t lseek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
  int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
  int close(int fd) override { return ::close(fd); }
  bool is_terminal(int fd) override { return ::isatty(fd) == 1; }
};

constinit PosixCalls posix;
constinit SystemCalls* in_use = &posix;

}  // namespace

SystemCalls& system_calls() {
  return *in_use;
}

void use_system_calls(SystemCalls* calls) {
  in_use = calls != nullptr ? calls : &posix;
}

}  // namespace recordio
