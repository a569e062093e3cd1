#include "open_close.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "statement.h"
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
int above_standard_streams(int fd) {
  if (fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int why = errno;
  ::close(fd);
  if (moved < 0) fatal("open", Failure::system(why));
  return moved;
}

void open_unit(ftnint number, std::string_view file, Status status) {
  state().unit = number;
  Unit& u = units().at(number);
  if (file.empty()) fatal("open", Failure::runtime(RuntimeError::kNullName));
  if (u.connected()) u.close(true);
  u.reset_flags();
  std::string name(file);
  struct stat st {};
  if (status == Status::kOld && stat(name.c_str(), &st) != 0) {
    const int why = errno;
    u.remember_name(name);
    fatal("open", Failure::system(why));
  }
  u.remember_name(name);
  // A name that holds a NUL byte would open some other file: the part before the NUL.
  if (name.find('\0') != std::string::npos) fatal("open", Failure::system(EINVAL));
  Mode mode = Mode::kReadWrite;
  bool created = false;
  int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    mode = Mode::kReadOnly;
    fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0 && status != Status::kOld) {
    // A file of status old is never created or emptied. An existing file that can only be
    // written is opened as it is, so that it keeps its contents when nothing is written to it;
    // only a missing file is created.
    mode = Mode::kWriteOnly;
    fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      created = true;
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
  }
  if (fd < 0) fatal("open", Failure::system(errno));
  fd = above_standard_streams(fd);
  u.connect(fd, std::move(name), true, mode, created);
}

}  // namespace

int f_open(const olist* o) {
  open_unit(o->unit, trim_trailing_blanks(o->file, o->filelen), status_of(o->stat));
  return 0;
}

void connect_by_default(ftnint unit) {
  const std::string name = "fort." + std::to_string(unit);
  const ftnint current = state().unit;
  open_unit(unit, name, Status::kOther);
  state().unit = current;
}

int f_clos(const cllist* c) {
  Unit& u = units().at(c->unit);
  if (!u.connected()) return 0;
  const bool remove = c->stat != nullptr && (c->stat[0] == 'd' || c->stat[0] == 'D');
  const std::string name = remove && u.named() ? u.name() : std::string();
  u.close(true);
  if (!name.empty()) (void)::unlink(name.c_str());
  return 0;
}

}  // namespace recordio
