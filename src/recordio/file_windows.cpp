// The file layer over the Windows C runtime's descriptors and the system handles under them.
//
// A file is opened by the C runtime, in binary mode: its open applies the system's sharing rules
// and gives the errno whose text a diagnostic shows. Every transfer, position and cut then goes
// straight to the system handle under the descriptor. Nothing passes through the C runtime's
// text mode, which would add or drop a CR, or take a 0x1A byte for the end of a file; and no lock
// of the C runtime is taken while a unit reads or writes. The console's control handler runs on
// a thread of its own while the main thread is suspended wherever it was (signals_windows.cpp);
// the C runtime's lock on a descriptor is held only inside its open, duplicate and close, which
// happen while the unit is not connected or with the signals held back, so the handler never
// waits for one.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>

#include "file.h"

namespace recordio {
namespace {

// The errno the C runtime gives for a system error code, for the codes a file operation meets;
// any other is EINVAL, as in the C runtime.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_FAIL_I24:
    case ERROR_DRIVE_LOCKED:
    case ERROR_SEEK_ON_DEVICE:
    case ERROR_NOT_LOCKED:
    case ERROR_LOCK_FAILED:
      return EACCES;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_TARGET_HANDLE:
    case ERROR_DIRECT_ACCESS_HANDLE:
      return EBADF;
    case ERROR_ARENA_TRASHED:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_INVALID_BLOCK:
    case ERROR_NOT_ENOUGH_QUOTA:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:             // the pipe is being closed: its reader has gone
    case ERROR_PIPE_NOT_CONNECTED:  // a named pipe's server has closed its end
      return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    default:
      // The write-protected medium, sharing and lock violations (19 to 36) are refusals.
      if (error >= ERROR_WRITE_PROTECT && error <= ERROR_SHARING_BUFFER_EXCEEDED) return EACCES;
      return EINVAL;
  }
}

HANDLE system_handle(FileHandle fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool usable(HANDLE h) {
  // The C runtime gives -1 for a descriptor that is not open and -2 for a standard stream the
  // process was started without.
  return h != INVALID_HANDLE_VALUE && h != reinterpret_cast<HANDLE>(-2) && h != nullptr;
}

Transfer failed(int error) {
  return {Transfer::Outcome::kFailed, 0, error};
}

Transfer moved(DWORD bytes) {
  return {Transfer::Outcome::kMoved, bytes, 0};
}

// One transfer moves at most this much: a DWORD's worth, with room to spare.
DWORD transfer_size(std::size_t n) {
  return static_cast<DWORD>(std::min<std::size_t>(n, std::size_t{1} << 30));
}

// The room a pipe has for writing; nothing when the system will not say (the write end of an
// anonymous pipe is often opened without the right to ask). (The pipe information class of the
// native interface; its number and layout are fixed.)
std::optional<std::size_t> pipe_room(HANDLE h) {
  struct PipeLocalInformation {
    ULONG type, configuration, maximum_instances, current_instances, inbound_quota,
        read_data_available, outbound_quota, write_quota_available, state, end;
  } info{};
  constexpr auto kFilePipeLocalInformation = static_cast<FILE_INFORMATION_CLASS>(24);
  IO_STATUS_BLOCK status{};
  if (NtQueryInformationFile(h, &status, &info, sizeof info, kFilePipeLocalInformation) != 0) {
    return std::nullopt;
  }
  return info.write_quota_available;
}

// A write to a pipe whose room is unknown, from a thread of its own, waited for a short while and
// then given up (and cancelled where the system can): a handler never waits for a reader who has
// stopped reading. The write's record is left to the thread, which may outlive the wait.
struct DetachedWrite {
  HANDLE h;
  const char* from;
  DWORD n;
  DWORD put;
  bool in_use;
};

// The records live in static storage: the handler that writes runs while the main thread is
// stopped wherever it was, perhaps holding the heap's lock. Only the one handler that ends the
// run writes, so the records need no lock; one given up stays its thread's for good.
DetachedWrite detached_writes[8];

DWORD WINAPI write_detached(void* argument) {
  auto* w = static_cast<DetachedWrite*>(argument);
  if (!WriteFile(w->h, w->from, w->n, &w->put, nullptr)) w->put = 0;
  return 0;
}

std::size_t write_within(HANDLE h, const char* from, DWORD n, DWORD milliseconds) {
  DetachedWrite* w = std::find_if(std::begin(detached_writes), std::end(detached_writes),
                                  [](const DetachedWrite& d) { return !d.in_use; });
  if (w == std::end(detached_writes)) return 0;
  *w = {h, from, n, 0, true};
  const HANDLE thread = CreateThread(nullptr, 0, write_detached, w, 0, nullptr);
  if (thread == nullptr) {
    w->in_use = false;
    return 0;
  }
  if (WaitForSingleObject(thread, milliseconds) != WAIT_OBJECT_0) {
    (void)CancelSynchronousIo(thread);
    if (WaitForSingleObject(thread, milliseconds) != WAIT_OBJECT_0) {
      CloseHandle(thread);
      return 0;  // still waiting: the bytes and the record are its own now
    }
  }
  CloseHandle(thread);
  w->in_use = false;
  return w->put;
}

// Facts of a handle of the system. A file on a disk is identified by its volume's serial number
// and its index on that volume (the 128-bit identifier where the system has one, else the
// classic 64-bit index); those are the same through every name, link and handle that reaches the
// file. A device, the console or a pipe gets an identity that no other handle or name shares, so
// it is never taken for another: any name of one opens it anew, which writes to it all the same.
class Identifier {
 public:
  int facts_of(HANDLE h, FileFacts& facts) {
    facts = {};
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return errno_of(GetLastError());
    switch (type) {
      case FILE_TYPE_DISK:
        return disk_file(h, facts);
      case FILE_TYPE_CHAR: {
        DWORD console_mode;
        facts.kind = GetConsoleMode(h, &console_mode) ? FileKind::kTerminal : FileKind::kDevice;
        break;
      }
      case FILE_TYPE_PIPE:
        facts.kind = FileKind::kFifo;
        break;
      default:
        facts.kind = FileKind::kOther;
        break;
    }
    facts.identity = {kNoVolume, ++unshared_};
    return 0;
  }

 private:
  static constexpr std::uint64_t kNoVolume = ~std::uint64_t{0};

  static int disk_file(HANDLE h, FileFacts& facts) {
    // Neither query needs any access to the file: a standard stream opened for writing only
    // answers them too.
    FILE_ID_INFO id{};
    FILE_STANDARD_INFO standard{};
    if (GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id) &&
        GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard)) {
      std::uint64_t low, high;
      std::memcpy(&low, id.FileId.Identifier, sizeof low);
      std::memcpy(&high, id.FileId.Identifier + sizeof low, sizeof high);
      // The upper half is zero but on file systems with 128-bit identifiers, whose halves are
      // folded together.
      facts.identity = {id.VolumeSerialNumber, low ^ (high * 0x9E3779B97F4A7C15u)};
      facts.kind = standard.Directory ? FileKind::kDirectory : FileKind::kRegular;
      return 0;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return errno_of(GetLastError());
    facts.identity = {info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::kDirectory
                                                                         : FileKind::kRegular;
    return 0;
  }

  std::uint64_t unshared_ = 0;
};

int open_binary(const char* path, int flags) {
  return _open(path, flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

// A process started without a standard stream may have that stream's descriptor free for its
// first file: moved above them, the file is never written as if it were the console.
int above_standard_streams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = above_standard_streams(_dup(fd));
  const int why = errno;
  _close(fd);
  errno = why;
  return moved;
}

class WindowsFiles final : public FileLayer {
 public:
  int look_up(const char* path, FileFacts& facts) override {
    facts = {};
    // Opened for no access at all, which any file, directory or device allows whoever holds it
    // open and however it is shared, and closed again.
    const HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return errno_of(GetLastError());
    const int failure = identifier_.facts_of(h, facts);
    CloseHandle(h);
    return failure;
  }

  Opened open(const char* path, OpenFor purpose, const FileFacts& found) override {
    // A directory is no file to read or write; the C runtime would say only "Permission denied".
    if (found.kind == FileKind::kDirectory) return {-1, Mode::kReadWrite, false, EISDIR};
    Opened o = open_in_order(purpose, [path](Mode mode, bool create) {
      if (create) return open_binary(path, _O_WRONLY | _O_CREAT | _O_TRUNC);
      return open_binary(path, mode == Mode::kReadWrite  ? _O_RDWR
                               : mode == Mode::kReadOnly ? _O_RDONLY
                                                         : _O_WRONLY);
    });
    o.handle = above_standard_streams(o.handle);
    if (o.handle < 0) return {-1, Mode::kReadWrite, false, errno};
    return o;
  }

  int describe(FileHandle handle, FileFacts& facts) override {
    facts = {};
    const HANDLE h = system_handle(handle);
    if (!usable(h)) return EBADF;
    return identifier_.facts_of(h, facts);
  }

  int duplicate(FileHandle handle, FileHandle& copy) override {
    copy = above_standard_streams(_dup(handle));
    return copy < 0 ? errno : 0;
  }

  Transfer read(FileHandle handle, char* to, std::size_t n) override {
    const HANDLE h = system_handle(handle);
    if (!usable(h)) return failed(EBADF);
    DWORD got = 0;
    SetLastError(NO_ERROR);
    if (ReadFile(h, to, transfer_size(n), &got, nullptr)) {
      // A console read that Ctrl-C broke off reads nothing, which is no end of the input: the
      // interrupt's handler ends the run.
      if (got == 0 && GetLastError() == ERROR_OPERATION_ABORTED) {
        return {Transfer::Outcome::kInterrupted, 0, 0};
      }
      return moved(got);
    }
    switch (const DWORD error = GetLastError()) {
      case ERROR_BROKEN_PIPE:         // the pipe's writer has closed it: the end of the data
      case ERROR_PIPE_NOT_CONNECTED:  // a named pipe's server has closed its end
      case ERROR_HANDLE_EOF:
        return moved(0);
      case ERROR_OPERATION_ABORTED:  // cancelled by the interrupt's handler
        return {Transfer::Outcome::kInterrupted, 0, 0};
      case ERROR_NO_DATA:  // a pipe left not waiting has nothing now
        return {Transfer::Outcome::kWouldBlock, 0, 0};
      default:
        return failed(errno_of(error));
    }
  }

  Transfer write(FileHandle handle, const char* from, std::size_t n) override {
    const HANDLE h = system_handle(handle);
    if (!usable(h)) return failed(EBADF);
    DWORD put = 0;
    if (WriteFile(h, from, transfer_size(n), &put, nullptr)) {
      // A pipe left not waiting takes nothing when it has no room.
      if (put == 0 && n != 0) return {Transfer::Outcome::kWouldBlock, 0, 0};
      return moved(put);
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) return {Transfer::Outcome::kInterrupted, 0, 0};
    return failed(errno_of(error));
  }

  int wait(FileHandle, bool) override {
    // A handle waits in its own transfers; only a pipe left not waiting answers that it would,
    // and is tried again after a pause.
    Sleep(1);
    return 0;
  }

  std::size_t write_now(FileHandle handle, const char* from, std::size_t n) override {
    const HANDLE h = system_handle(handle);
    if (!usable(h)) return 0;
    // A file on a disk, the console and the other devices take their bytes without waiting for
    // anybody. A pipe is given at most the room it reports, or, when it cannot say, a write that
    // is given up after a short wait.
    if (GetFileType(h) == FILE_TYPE_PIPE) {
      const std::optional<std::size_t> room = pipe_room(h);
      if (!room) return write_within(h, from, transfer_size(n), 100);
      n = std::min(n, *room);
      if (n == 0) return 0;
    }
    DWORD put = 0;
    // The interrupt's handler may cancel a write of the main thread's once before it lets the
    // main thread end the run: a cancelled write is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (WriteFile(h, from, transfer_size(n), &put, nullptr)) return put;
      if (GetLastError() != ERROR_OPERATION_ABORTED) break;
    }
    return 0;
  }

  void hand_back(FileHandle handle, std::size_t n) override {
    const HANDLE h = system_handle(handle);
    if (!usable(h) || GetFileType(h) != FILE_TYPE_DISK) return;
    LARGE_INTEGER back;
    back.QuadPart = -static_cast<LONGLONG>(n);
    (void)SetFilePointerEx(h, back, nullptr, FILE_CURRENT);
  }

  int cut_here(FileHandle handle, bool) override {
    // SetEndOfFile cuts the file at the handle's position.
    const HANDLE h = system_handle(handle);
    if (!usable(h)) return EBADF;
    return SetEndOfFile(h) ? 0 : errno_of(GetLastError());
  }

  int close(FileHandle handle) override { return _close(handle) == 0 ? 0 : errno; }

 private:
  Identifier identifier_;
};

constinit WindowsFiles windows_files;

}  // namespace

FileLayer& platform_files() {
  return windows_files;
}

}  // namespace recordio
