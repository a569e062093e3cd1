// The system calls the runtime makes, behind one seam. The real ones work on file descriptors; a
// test puts a fake in their place that can fail, shorten or interrupt any call. Each call keeps
// the system's contract: -1 with errno set on failure.
//
// Every call is async-signal-safe in the real implementation, so the signal handlers may close
// units through the seam.
#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace recordio {

class SystemCalls {
 public:
  virtual int open(const char* path, int flags, mode_t mode) = 0;
  virtual int stat(const char* path, struct stat* st) = 0;
  virtual int fstat(int fd, struct stat* st) = 0;
  // A copy of `fd` on the lowest free descriptor from `lowest` on, closed on exec.
  virtual int duplicate(int fd, int lowest) = 0;
  virtual ssize_t read(int fd, void* to, std::size_t n) = 0;
  virtual ssize_t write(int fd, const void* from, std::size_t n) = 0;
  virtual int poll(pollfd* fds, nfds_t count, int timeout_ms) = 0;
  virtual off_t lseek(int fd, off_t offset, int whence) = 0;
  virtual int ftruncate(int fd, off_t length) = 0;
  virtual int close(int fd) = 0;
  virtual bool is_terminal(int fd) = 0;

 protected:
  ~SystemCalls() = default;
};

// The calls in use: the real ones unless a test has put others in their place.
SystemCalls& system_calls();
// Puts `calls` in place of the real calls; nullptr puts the real ones back.
void use_system_calls(SystemCalls* calls);

}  // namespace recordio
