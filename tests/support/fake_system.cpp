#include "support/fake_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "recordio/recordio.h"
#include "recordio/statement.h"
#include "recordio/terminator.h"
#include "recordio/unit_table.h"

namespace testing_support {

void FakeSystem::fail(Call call, int error, int after, int times) {
  failures_[call] = {error, after, times};
}

bool FakeSystem::fails(Call call) {
  ++counts_[call];
  Failure& f = failures_[call];
  if (f.times == 0) return false;
  if (f.after > 0) {
    --f.after;
    return false;
  }
  --f.times;
  errno = f.error;
  return true;
}

FakeSystem::Descriptor* FakeSystem::descriptor(int fd) {
  if (open_.empty()) {
    // The standard streams, as a process starts with them: pipes.
    open_[STDIN_FILENO] = {&input, 0, S_IFIFO, true, false, false};
    open_[STDOUT_FILENO] = {&out, 0, S_IFIFO, false, true, false};
    open_[STDERR_FILENO] = {&err, 0, S_IFIFO, false, true, false};
  }
  const auto d = open_.find(fd);
  if (d == open_.end()) {
    errno = EBADF;
    return nullptr;
  }
  return &d->second;
}

int FakeSystem::open(const char* path, int flags, mode_t) {
  if (fails(kOpen)) return -1;
  descriptor(0);
  const int access = flags & O_ACCMODE;
  const bool writing = access != O_RDONLY;
  Descriptor d{&no_bytes_, 0, S_IFCHR, access != O_WRONLY, writing, (flags & O_APPEND) != 0};
  if (directories.count(path) != 0) {
    if (writing) {
      errno = EISDIR;
      return -1;
    }
    d.type = S_IFDIR;
    d.transfer_error = EISDIR;
  } else if (full_devices.count(path) != 0) {
    d.transfer_error = ENOSPC;
  } else {
    auto file = files.find(path);
    if (file == files.end()) {
      if ((flags & O_CREAT) == 0) {
        errno = ENOENT;
        return -1;
      }
      file = files.emplace(path, std::string()).first;
    } else if (writing && read_only.count(path) != 0) {
      errno = EACCES;
      return -1;
    }
    if ((flags & O_TRUNC) != 0) file->second.clear();
    d.bytes = &file->second;
    d.type = S_IFREG;
  }
  int fd = 3;
  while (open_.count(fd) != 0) ++fd;
  open_[fd] = d;
  return fd;
}

namespace {

void describe(struct stat* st, const std::string* bytes, mode_t type) {
  *st = {};
  st->st_dev = 1;
  st->st_ino = static_cast<ino_t>(reinterpret_cast<std::uintptr_t>(bytes));
  st->st_mode = type | (type == S_IFREG ? 0644 : 0600);
  st->st_size = static_cast<off_t>(bytes->size());
}

}  // namespace

int FakeSystem::stat(const char* path, struct stat* st) {
  if (fails(kStat)) return -1;
  if (directories.count(path) != 0 || full_devices.count(path) != 0) {
    describe(st, &no_bytes_, directories.count(path) != 0 ? S_IFDIR : S_IFCHR);
    return 0;
  }
  const auto file = files.find(path);
  if (file == files.end()) {
    errno = ENOENT;
    return -1;
  }
  describe(st, &file->second, S_IFREG);
  if (read_only.count(path) != 0) st->st_mode = S_IFREG | 0444;
  return 0;
}

int FakeSystem::fstat(int fd, struct stat* st) {
  if (fails(kFstat)) return -1;
  const Descriptor* d = descriptor(fd);
  if (d == nullptr) return -1;
  describe(st, d->bytes, d->type);
  return 0;
}

int FakeSystem::duplicate(int fd, int lowest) {
  if (fails(kDuplicate)) return -1;
  const Descriptor* d = descriptor(fd);
  if (d == nullptr) return -1;
  int copy = lowest;
  while (open_.count(copy) != 0) ++copy;
  open_[copy] = *d;
  return copy;
}

FakeSystem::Descriptor* FakeSystem::transfer(Call call, int fd, bool writing) {
  // Each transfer is interrupted once first when asked to be.
  if (interrupt_transfers && !interrupted_) {
    ++counts_[call];
    interrupted_ = true;
    errno = EINTR;
    return nullptr;
  }
  interrupted_ = false;
  if (fails(call)) return nullptr;
  Descriptor* d = descriptor(fd);
  if (d == nullptr) return nullptr;
  const bool allowed = writing ? d->writable : d->readable;
  if (!allowed || d->transfer_error != 0) {
    errno = allowed ? d->transfer_error : EBADF;
    return nullptr;
  }
  return d;
}

ssize_t FakeSystem::read(int fd, void* to, std::size_t n) {
  Descriptor* d = transfer(kRead, fd, false);
  if (d == nullptr) return -1;
  const auto at = static_cast<std::size_t>(d->position);
  const std::size_t left = at < d->bytes->size() ? d->bytes->size() - at : 0;
  const std::size_t moved = std::min({n, most_per_transfer, left});
  std::memcpy(to, d->bytes->data() + at, moved);
  d->position += static_cast<off_t>(moved);
  return static_cast<ssize_t>(moved);
}

ssize_t FakeSystem::write(int fd, const void* from, std::size_t n) {
  Descriptor* d = transfer(kWrite, fd, true);
  if (d == nullptr) return -1;
  std::string& bytes = *d->bytes;
  if (d->append || !d->regular()) d->position = static_cast<off_t>(bytes.size());
  const auto at = static_cast<std::size_t>(d->position);
  const std::size_t moved = std::min(n, most_per_transfer);
  if (bytes.size() < at + moved) bytes.resize(at + moved);
  std::memcpy(bytes.data() + at, from, moved);
  d->position += static_cast<off_t>(moved);
  write_sizes.push_back(moved);
  return static_cast<ssize_t>(moved);
}

int FakeSystem::poll(pollfd* fds, nfds_t count, int) {
  if (fails(kPoll)) return -1;
  for (nfds_t k = 0; k < count; ++k) fds[k].revents = static_cast<short>(fds[k].events & POLLOUT);
  return static_cast<int>(count);
}

off_t FakeSystem::lseek(int fd, off_t offset, int whence) {
  if (fails(kLseek)) return -1;
  Descriptor* d = descriptor(fd);
  if (d == nullptr) return -1;
  if (!d->regular()) {
    errno = ESPIPE;
    return -1;
  }
  const off_t base = whence == SEEK_SET   ? 0
                     : whence == SEEK_CUR ? d->position
                                          : static_cast<off_t>(d->bytes->size());
  if (base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  d->position = base + offset;
  return d->position;
}

int FakeSystem::ftruncate(int fd, off_t length) {
  if (fails(kFtruncate)) return -1;
  Descriptor* d = descriptor(fd);
  if (d == nullptr) return -1;
  if (!d->regular() || !d->writable) {
    errno = EINVAL;
    return -1;
  }
  d->bytes->resize(static_cast<std::size_t>(length));
  return 0;
}

int FakeSystem::close(int fd) {
  const bool failing = fails(kClose);
  // A failed close still releases the descriptor, as the system's does.
  if (descriptor(fd) == nullptr) return -1;
  open_.erase(fd);
  return failing ? -1 : 0;
}

bool FakeSystem::is_terminal(int fd) {
  return fd == STDOUT_FILENO && console_is_terminal;
}

namespace {

[[noreturn]] void throw_crashed() {
  throw Crashed{};
}

}  // namespace

InProcessRuntime::InProcessRuntime() {
  recordio::use_system_calls(&system_);
  recordio::set_crash_handler(throw_crashed);
  recordio::statement() = {};
  recordio::f_init();
}

void InProcessRuntime::stop() {
  // As the exit handler f_exit does.
  recordio::units().close_all();
  recordio::settle(0);
}

bool InProcessRuntime::run(const std::function<void()>& body) {
  try {
    body();
    stop();
  } catch (const Crashed&) {
    return false;
  }
  return true;
}

InProcessRuntime::~InProcessRuntime() {
  recordio::UnitTable& table = recordio::units();
  table.close_all_quietly(false);
  (void)recordio::take_unit_failure();
  // A unit the fatal path closed keeps its buffer, its name and what it could not write, as it
  // may in a process that ends anyway. Each such unit is connected to a file of a fresh fake and
  // closed as CLOSE closes it, so that the next runtime finds the table as a process starts with
  // it.
  FakeSystem scratch;
  recordio::use_system_calls(&scratch);
  for (int n = 0; n < recordio::kUnitCount; ++n) {
    recordio::Unit& unit = table.unit(n);
    if (unit.path() == nullptr) continue;  // holds no buffer
    const int fd = scratch.open("scratch", O_RDWR | O_CREAT, 0);
    (void)unit.connect(fd, recordio::Mode::kReadWrite, false);
    if (unit.record_length() != 0) unit.end_record();
    unit.close(false);
    scratch.close(fd);  // an unnamed unit leaves its descriptor open
  }
  (void)recordio::take_unit_failure();
  recordio::set_crash_handler(nullptr);
  recordio::use_system_calls(nullptr);
}

}  // namespace testing_support
