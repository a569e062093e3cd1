// OPEN and CLOSE: connecting the file unit to a named file, and disconnecting it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "statement.h"
#include "system_calls.h"
#include "terminator.h"
#include "unit_table.h"

namespace recordio {
namespace {

enum class Status { kOld, kOther };

Status status_of(const char* stat) {
  // Decided by the first letter only.
  return stat != nullptr && (stat[0] == 'o' || stat[0] == 'O') ? Status::kOld : Status::kOther;
}

std::string_view trim_trailing_blanks(const char* text, ftnlen len) {
  if (text == nullptr) return {};
  std::string_view name(text, len);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

// A process started with a standard stream closed gets that stream's descriptor for its first
// file: moved above them, the file is never written as if it were the console.
// Returns the descriptor, or -1 with errno set.
int above_standard_streams(int fd) {
  if (fd > STDERR_FILENO) return fd;
  const int moved = system_calls().duplicate(fd, STDERR_FILENO + 1);
  const int why = errno;
  system_calls().close(fd);
  errno = why;
  return moved;
}

// Whether `fd` is standard output's own open file: the file, terminal or pipe the console goes
// to, whatever name reached it (/dev/stdout, /proc/self/fd/1, the terminal's device, the file
// standard output is redirected to).
bool is_console(int fd) {
  struct stat file {
  }, console{};
  return system_calls().fstat(fd, &file) == 0 &&
         system_calls().fstat(STDOUT_FILENO, &console) == 0 && file.st_dev == console.st_dev &&
         file.st_ino == console.st_ino;
}

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  while ((fd = system_calls().open(path, flags | O_CLOEXEC, mode)) < 0 && errno == EINTR) {
  }
  return fd;
}

// Connects the unit, closed, to the named file; the failure for the line "open: ...", if any.
std::optional<Failure> open_unit(Unit& u, std::string_view file, Status status) {
  u.reset_flags();
  if (const int failure = u.name_file(file)) return Failure::system(failure);
  const char* const path = u.path();
  struct stat st {};
  const bool exists = system_calls().stat(path, &st) == 0;
  if (status == Status::kOld && !exists) return Failure::system(errno);
  // A name that holds a NUL byte would open some other file: the part before the NUL.
  if (file.find('\0') != std::string_view::npos) return Failure::system(EINVAL);
  Mode mode = Mode::kReadWrite;
  bool created = false;
  int fd;
  if (exists && S_ISFIFO(st.st_mode)) {
    // A FIFO is opened one way only. Holding both ends, the program would be its own writer and
    // never see the end of the data, or its own reader and never see its reader go.
    mode = status == Status::kOld ? Mode::kReadOnly : Mode::kWriteOnly;
    fd = open_retrying(path, mode == Mode::kReadOnly ? O_RDONLY : O_WRONLY);
  } else {
    fd = open_retrying(path, O_RDWR);
    if (fd < 0) {
      mode = Mode::kReadOnly;
      fd = open_retrying(path, O_RDONLY);
    }
    if (fd < 0 && status != Status::kOld) {
      // A file of status old is never created or emptied. An existing file that can only be
      // written is opened as it is, so that it keeps its contents when nothing is written to
      // it; only a missing file is created.
      mode = Mode::kWriteOnly;
      fd = open_retrying(path, O_WRONLY);
      if (fd < 0 && errno == ENOENT) {
        created = true;
        fd = open_retrying(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
      }
    }
  }
  // Moved first: with standard output closed, the file itself would sit on its descriptor.
  if (fd >= 0) fd = above_standard_streams(fd);
  if (fd < 0) return Failure::system(errno);
  const bool console = is_console(fd);
  if (console) {
    // The rows go through standard output's own open file, after the console lines already
    // written and in its append mode, and nothing is cut: reopened on its own, the file would be
    // written over from its start (or, for a pipe, read by the program itself).
    system_calls().close(fd);
    units().flush_console();
    fd = system_calls().duplicate(STDOUT_FILENO, STDERR_FILENO + 1);
    if (fd < 0) return Failure::system(errno);
    mode = Mode::kWriteOnly;
  }
  if (const int failure = u.connect(fd, mode, created, console)) {
    system_calls().close(fd);
    return Failure::system(failure);
  }
  return std::nullopt;
}

}  // namespace

int f_open(const olist* o) {
  Statement& s = statement();
  s.unit = o->unit;
  s.writing_number = -1;
  Unit* const u = units().at(o->unit);
  if (u == nullptr) fatal("open", Failure::runtime(RuntimeError::kUnitNumber));
  const std::string_view name = trim_trailing_blanks(o->file, o->filelen);
  if (name.empty()) fatal("open", Failure::runtime(RuntimeError::kNullName));
  if (u->connected()) {
    u->close(true);
    settle(0);
  }
  if (const std::optional<Failure> failure = open_unit(*u, name, status_of(o->stat))) {
    fatal("open", *failure);
  }
  return settle(0);
}

int f_clos(const cllist* c) {
  // CLOSE keeps the file: the run closes with no status.
  statement().writing_number = -1;
  Unit* u = units().at(c->unit);
  if (u == nullptr) fatal("close", Failure::runtime(RuntimeError::kUnitNumber));
  u->close(true);
  return settle(0);
}

}  // namespace recordio
