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

// The standard stream whose own open file `file` is, if any: the file, terminal, pipe or socket
// the console (or the diagnostics) go to, whatever name reached it (/dev/stdout, /dev/stderr,
// /proc/self/fd/1, the terminal's device, the file a stream is redirected to). Standard output
// is asked first.
std::optional<FileHandle> standard_stream_of(FileLayer& files, const FileFacts& file) {
  for (const FileHandle stream : {kStandardOutput, kStandardError}) {
    FileFacts facts;
    if (files.describe(stream, facts) == 0 && facts.identity == file.identity) return stream;
  }
  return std::nullopt;
}

// Whether `file` is standard input's own pipe or file (a terminal or device it is on is shared by
// whatever else uses it, and is no input of this run's alone).
bool is_standard_input(FileLayer& files, const FileFacts& file) {
  FileFacts input;
  return files.describe(kStandardInput, input) == 0 && input.identity == file.identity &&
         (input.kind == FileKind::kRegular || input.kind == FileKind::kFifo);
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
  if (status != Status::kOld && missing == 0) {
    // The output: never one of the files read, whatever name or link reaches it, so that a
    // mistyped name cannot write over the record being converted.
    if (units.is_input(found.identity)) return Failure::message("output file is an input file");
    if (const std::optional<FileHandle> stream = standard_stream_of(files, found)) {
      // The rows go through the stream's own open file, after the console lines already written
      // and in its append mode, and nothing is cut: reopened on its own, the file would be
      // written over from its start (or, for a pipe, read by the program itself), and a socket
      // cannot be opened by name at all.
      units.flush_console();
      FileHandle copy;
      if (const int failure = files.duplicate(*stream, copy)) return Failure::system(failure);
      if (const int failure = u.connect(units, copy, Mode::kWriteOnly, false, true)) {
        (void)files.close(copy);
        return Failure::system(failure);
      }
      return std::nullopt;
    }
    // Standard input's own file, the pipe or file the name itself came through, is read by this
    // run too: rows written into it would be read by nobody, or write over what is read.
    if (is_standard_input(files, found)) return Failure::message("output file is an input file");
  }
  const Opened opened =
      files.open(path, status == Status::kOld ? OpenFor::kExisting : OpenFor::kWriting, found);
  if (opened.handle < 0) return Failure::system(opened.error);
  if (status == Status::kOld) units.remember_input(found.identity);
  if (const int failure = u.connect(units, opened.handle, opened.mode, opened.created)) {
    (void)files.close(opened.handle);
    return Failure::system(failure);
  }
  return std::nullopt;
}

}  // namespace

int f_open(const olist* o) {
  Statement& s = statement();
  s.unit = o->unit;
  s.ready_to_write = 0;
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
  statement().ready_to_write = 0;
  Unit* u = runtime().units.at(c->unit);
  if (u == nullptr) fatal("close", Failure::runtime(RuntimeError::kUnitNumber));
  u->close(true);
  return settle(0);
}

}  // namespace recordio
