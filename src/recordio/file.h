// The file layer: the operations a unit needs of the platform's files and standard streams, and
// nothing more. Each platform has one implementation (file_posix.cpp, file_windows.cpp); the tests
// have a fake. Nothing above this interface knows which platform it runs on.
//
// Every operation reports its failure as a value: the system's error number, or for a transfer
// its outcome. None of them ends the process, and none of them waits unless it says so. The
// operations a signal handler uses (write_now, hand_back, cut_here, close) are async-signal-safe
// in every implementation.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace recordio {

// An open file: a file descriptor, of the system or of the platform's C runtime.
using FileHandle = int;
inline constexpr FileHandle kStandardInput = 0;
inline constexpr FileHandle kStandardOutput = 1;
inline constexpr FileHandle kStandardError = 2;

enum class FileKind : unsigned char {
  kMissing,  // nothing by that name
  kRegular,
  kFifo,
  kTerminal,
  kDevice,  // any other device
  kSocket,
  kDirectory,
  kOther,
};

// The file itself, whatever name or handle reaches it: two handles on one file, or two names of
// one file (links), have equal identities.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct FileFacts {
  FileKind kind = FileKind::kMissing;
  FileIdentity identity;
};

// How a unit may use its file, as OPEN obtained it.
enum class Mode : unsigned char { kReadWrite, kReadOnly, kWriteOnly };

// What OPEN asks for: a file that must exist and is only read (status "old"), or a file that is
// opened or created for writing (any other status).
enum class OpenFor : unsigned char { kExisting, kWriting };

// A file OPEN got: its handle, how it may be used, and whether the open created it. Or, with a
// handle of -1, the system's error number.
struct Opened {
  FileHandle handle = -1;
  Mode mode = Mode::kReadWrite;
  bool created = false;
  int error = 0;
};

// OPEN's order of attempts at a file that is not a FIFO, which every platform follows: for reading
// and writing without truncation, then for reading only; when writing is asked for, then for
// writing only (an existing file that can only be written keeps its contents when nothing is
// written to it), and only a missing file is created empty. `attempt(mode, create)` is the
// platform's open of the name so: a handle, or -1 with errno set.
template <class Attempt>
Opened open_in_order(OpenFor purpose, Attempt attempt) {
  Opened o;
  o.handle = attempt(Mode::kReadWrite, false);
  if (o.handle < 0) {
    o.mode = Mode::kReadOnly;
    o.handle = attempt(Mode::kReadOnly, false);
  }
  if (o.handle < 0 && purpose == OpenFor::kWriting) {
    o.mode = Mode::kWriteOnly;
    o.handle = attempt(Mode::kWriteOnly, false);
    if (o.handle < 0 && errno == ENOENT) {
      o.created = true;
      o.handle = attempt(Mode::kWriteOnly, true);
    }
  }
  return o;
}

// What one read or write did.
struct Transfer {
  enum class Outcome : unsigned char {
    kMoved,        // `bytes` moved; a read that moved none met the end of the file
    kInterrupted,  // a signal came first; nothing moved
    kWouldBlock,   // a descriptor that does not wait has nothing (or no room) now
    kFailed,       // `error` says why
  };
  Outcome outcome = Outcome::kMoved;
  std::size_t bytes = 0;
  int error = 0;
};

class FileLayer {
 public:
  // What `path` names, without opening it: 0, or the system's error number (the facts then say
  // kMissing when nothing has that name).
  virtual int look_up(const char* path, FileFacts& facts) = 0;
  // Opens `path` by OPEN's rules (open_in_order). Where a FIFO's two ends share its name, a FIFO
  // is opened one way only: for reading when it must exist, else for writing. `found` is what
  // look_up said of the name. The handle is never a standard stream's.
  virtual Opened open(const char* path, OpenFor purpose, const FileFacts& found) = 0;
  // What an open handle is: 0, or the system's error number.
  virtual int describe(FileHandle handle, FileFacts& facts) = 0;
  // A second handle on the same open file (its position and append mode shared): 0, or the
  // system's error number.
  virtual int duplicate(FileHandle handle, FileHandle& copy) = 0;

  // Reads up to n bytes; tries at once, and waits only as the handle itself does.
  virtual Transfer read(FileHandle handle, char* to, std::size_t n) = 0;
  // Writes up to n bytes; tries at once, and waits only as the handle itself does.
  virtual Transfer write(FileHandle handle, const char* from, std::size_t n) = 0;
  // After a transfer that would block: waits until the handle can read (or write). 0 when it can
  // (or has an error or end the next transfer reports), EINTR when a signal came first, or the
  // system's error number.
  virtual int wait(FileHandle handle, bool writing) = 0;
  // For a signal handler: writes as much of the n bytes as the handle takes without waiting,
  // perhaps nothing, and returns how many it took.
  virtual std::size_t write_now(FileHandle handle, const char* from, std::size_t n) = 0;

  // Moves the handle's position back over n bytes read ahead and not used, where it has one.
  virtual void hand_back(FileHandle handle, std::size_t n) = 0;
  // Cuts the file at the handle's position: 0, or the system's error number. `rewriting` says the
  // cut comes before the unit writes over what the file held from there on, and the platform may
  // keep the room it frees for the bytes about to come.
  virtual int cut_here(FileHandle handle, bool rewriting) = 0;
  // 0, or the system's error number; the handle is released either way.
  virtual int close(FileHandle handle) = 0;

 protected:
  ~FileLayer() = default;
};

// The platform's own file layer.
FileLayer& platform_files();

}  // namespace recordio
