// The file layer over POSIX file descriptors.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "file.h"

namespace recordio {
namespace {

FileFacts facts_of(const struct stat& st) {
  FileKind kind = FileKind::kOther;
  if (S_ISREG(st.st_mode)) {
    kind = FileKind::kRegular;
  } else if (S_ISFIFO(st.st_mode)) {
    kind = FileKind::kFifo;
  } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    kind = FileKind::kDevice;
  } else if (S_ISSOCK(st.st_mode)) {
    kind = FileKind::kSocket;
  } else if (S_ISDIR(st.st_mode)) {
    kind = FileKind::kDirectory;
  }
  return {kind, {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}};
}

Transfer outcome_of(ssize_t n) {
  if (n >= 0) return {Transfer::Outcome::kMoved, static_cast<std::size_t>(n), 0};
  if (errno == EINTR) return {Transfer::Outcome::kInterrupted, 0, 0};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {Transfer::Outcome::kWouldBlock, 0, 0};
  return {Transfer::Outcome::kFailed, 0, errno};
}

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  while ((fd = ::open(path, flags | O_CLOEXEC, mode)) < 0 && errno == EINTR) {
  }
  return fd;
}

// A process started with a standard stream closed gets that stream's descriptor for its first
// file: moved above them, the file is never written as if it were the console.
int above_standard_streams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int why = errno;
  ::close(fd);
  errno = why;
  return moved;
}

class PosixFiles final : public FileLayer {
 public:
  int look_up(const char* path, FileFacts& facts) override {
    struct stat st {};
    if (::stat(path, &st) != 0) {
      facts = {};
      return errno;
    }
    facts = facts_of(st);
    return 0;
  }

  Opened open(const char* path, OpenFor purpose, const FileFacts& found) override {
    Opened o;
    if (found.kind == FileKind::kFifo) {
      // A FIFO is opened one way only. Holding both ends, the program would be its own writer and
      // never see the end of the data, or its own reader and never see its reader go.
      const bool existing = purpose == OpenFor::kExisting;
      o.mode = existing ? Mode::kReadOnly : Mode::kWriteOnly;
      o.handle = open_retrying(path, existing ? O_RDONLY : O_WRONLY);
    } else {
      o = open_in_order(purpose, [path](Mode mode, bool create) {
        if (create) return open_retrying(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        return open_retrying(path, mode == Mode::kReadWrite  ? O_RDWR
                                   : mode == Mode::kReadOnly ? O_RDONLY
                                                             : O_WRONLY);
      });
    }
    o.handle = above_standard_streams(o.handle);
    if (o.handle < 0) return {-1, Mode::kReadWrite, false, errno};
    return o;
  }

  int describe(FileHandle handle, FileFacts& facts) override {
    struct stat st {};
    if (::fstat(handle, &st) != 0) {
      facts = {};
      return errno;
    }
    facts = facts_of(st);
    if (facts.kind == FileKind::kDevice && ::isatty(handle) == 1) facts.kind = FileKind::kTerminal;
    return 0;
  }

  int duplicate(FileHandle handle, FileHandle& copy) override {
    copy = ::fcntl(handle, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    return copy < 0 ? errno : 0;
  }

  Transfer read(FileHandle handle, char* to, std::size_t n) override {
    return outcome_of(::read(handle, to, n));
  }

  Transfer write(FileHandle handle, const char* from, std::size_t n) override {
    return outcome_of(::write(handle, from, n));
  }

  int wait(FileHandle handle, bool writing) override {
    pollfd p{handle, static_cast<short>(writing ? POLLOUT : POLLIN), 0};
    return ::poll(&p, 1, -1) < 0 ? errno : 0;
  }

  std::size_t write_now(FileHandle handle, const char* from, std::size_t n) override {
    // A file on a disk takes its bytes without waiting for anybody. Anything else (a pipe, a
    // terminal, a socket) is asked first, then given at most what it takes at once: a pipe that
    // reports room holds PIPE_BUF bytes.
    struct stat st {};
    const bool regular = ::fstat(handle, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) {
      pollfd p{handle, POLLOUT, 0};
      if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return 0;
      n = std::min<std::size_t>(n, PIPE_BUF);
    }
    const ssize_t moved = ::write(handle, from, n);
    return moved > 0 ? static_cast<std::size_t>(moved) : 0;
  }

  void hand_back(FileHandle handle, std::size_t n) override {
    (void)::lseek(handle, -static_cast<off_t>(n), SEEK_CUR);
  }

  int cut_here(FileHandle handle, bool rewriting) override {
    const off_t at = ::lseek(handle, 0, SEEK_CUR);
    struct stat st {};
    // The room the file took on its device (a sparse file takes less than its length says).
    const off_t held = rewriting && ::fstat(handle, &st) == 0
                           ? std::min<off_t>(st.st_size, st.st_blocks * 512)
                           : 0;
    if (at < 0) return errno;
    // A signal may cut a slow file system's truncation short (the handlers restart nothing).
    int cut;
    while ((cut = ::ftruncate(handle, at)) != 0 && errno == EINTR) {
    }
    if (cut != 0) return errno;
#ifdef FALLOC_FL_KEEP_SIZE
    // That room stays allocated, beyond the file's end, for the rows that will take its place: a
    // file system that sees a file cut to nothing and written again would otherwise flush it to
    // disk when it is closed (ext4 does), and allocate every block anew. The cut at CLOSE frees
    // what the new contents leave unused. Where this is not supported, nothing is kept.
    if (held > at) (void)::fallocate(handle, FALLOC_FL_KEEP_SIZE, at, held - at);
#endif
    return 0;
  }

  int close(FileHandle handle) override {
    // After EINTR the descriptor is released all the same, and a retry could close another.
    return ::close(handle) == 0 || errno == EINTR ? 0 : errno;
  }
};

constinit PosixFiles posix_files;

}  // namespace

FileLayer& platform_files() {
  return posix_files;
}

}  // namespace recordio
