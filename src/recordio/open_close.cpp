// OPEN and CLOSE: connecting the file unit to a named file, and disconnecting it.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "file.h"
#include "statement.h"

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

// Whether `handle` is standard output's own open file: the file, terminal or pipe the console
// goes to, whatever name reached it (/dev/stdout, /proc/self/fd/1, the terminal's device, the
// file standard output is redirected to).
bool is_console(FileLayer& files, FileHandle handle) {
  FileFacts file, console;
  return files.describe(handle, file) == 0 && files.describe(kStandardOutput, console) == 0 &&
         file.identity == console.identity;
}

// Connects the unit, closed, to the named file; the failure for the line "open: ...", if any.
std::optional<Failure> open_unit(UnitTable& units, Unit& u, std::string_view file, Status status) {
  FileLayer& files = units.files();
  u.reset_flags();
  if (const int failure = u.name_file(units, file)) return Failure::system(failure);
  const char* const path = u.path();
  FileFacts found;
  const int missing = files.look_up(path, found);
  if (status == Status::kOld && missing != 0) return Failure::system(missing);
  // A name that holds a NUL byte would open some other file: the part before the NUL.
  if (file.find('\0') != std::string_view::npos) return Failure::system(EINVAL);
  Opened opened =
      files.open(path, status == Status::kOld ? OpenFor::kExisting : OpenFor::kWriting, found);
  if (opened.handle < 0) return Failure::system(opened.error);
  const bool console = is_console(files, opened.handle);
  if (console) {
    // The rows go through standard output's own open file, after the console lines already
    // written and in its append mode, and nothing is cut: reopened on its own, the file would be
    // written over from its start (or, for a pipe, read by the program itself).
    (void)files.close(opened.handle);
    units.flush_console();
    if (const int failure = files.duplicate(kStandardOutput, opened.handle)) {
      return Failure::system(failure);
    }
    opened.mode = Mode::kWriteOnly;
  }
  if (const int failure = u.connect(units, opened.handle, opened.mode, opened.created, console)) {
    (void)files.close(opened.handle);
    return Failure::system(failure);
  }
  return std::nullopt;
}

}  // namespace

int f_open(const olist* o) {
  Statement& s = statement();
  s.unit = o->unit;
  s.writing_number = -1;
  UnitTable& units = runtime().units;
  Unit* const u = units.at(o->unit);
  if (u == nullptr) fatal("open", Failure::runtime(RuntimeError::kUnitNumber));
  const std::string_view name = trim_trailing_blanks(o->file, o->filelen);
  if (name.empty()) fatal("open", Failure::runtime(RuntimeError::kNullName));
  if (u->connected()) {
    u->close(true);
    settle(0);
  }
  if (const std::optional<Failure> failure = open_unit(units, *u, name, status_of(o->stat))) {
    fatal("open", *failure);
  }
  return settle(0);
}

int f_clos(const cllist* c) {
  // CLOSE keeps the file: the run closes with no status.
  statement().writing_number = -1;
  Unit* u = runtime().units.at(c->unit);
  if (u == nullptr) fatal("close", Failure::runtime(RuntimeError::kUnitNumber));
  u->close(true);
  return settle(0);
}

}  // namespace recordio
