// The runtime in-process over a fake of its file layer: files live in memory, standard input is
// a string, standard output and error are captured, and any operation can be made to fail, to
// move fewer bytes than asked, to be interrupted, or to answer that it would block. A fatal error
// unwinds to the test through the crash handler instead of ending the process.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "recordio/file.h"

namespace testing_support {

class FakeFiles final : public recordio::FileLayer {
 public:
  enum Operation {
    kLookUp,
    kOpen,
    kDescribe,
    kDuplicate,
    kRead,
    kWrite,
    kWait,
    kCut,
    kClose,
    kOperationCount
  };

  // Files by name, and what standard input holds; standard output and error as written.
  std::map<std::string, std::string> files;
  std::string input;
  std::string out, err;
  bool console_is_terminal = false;
  // Files of `files` that may be read but not written: opening one for writing fails (EACCES).
  std::set<std::string> read_only;
  // Names that are no file: a directory opens for reading only and every read of it fails
  // (EISDIR); a full device takes no byte, every write to it fails (ENOSPC).
  std::set<std::string> directories, full_devices;
  // Names that reach a standard stream's own file, as /dev/stdout does.
  std::map<std::string, recordio::FileHandle> stream_names;

  // The operation's next uses, after `after` that succeed, fail with `error`; `times` of them.
  void fail(Operation operation, int error, int after = 0, int times = 1);
  // Reads and writes move at most this many bytes at once.
  std::size_t most_per_transfer = static_cast<std::size_t>(-1);
  // Every read and write is first interrupted once.
  bool interrupt_transfers = false;
  // Every read and write first answers that it would block, as on a descriptor left
  // non-blocking, until the runtime has waited for it.
  bool transfers_would_block = false;
  // The bytes each write moved, in order, over every handle.
  std::vector<std::size_t> write_sizes;
  // How often each operation was used, failed uses included.
  int count(Operation operation) const { return counts_[operation]; }
  // How many handles are open, the standard streams included once an operation has used one.
  std::size_t open_handles() const { return open_.size(); }

  int look_up(const char* path, recordio::FileFacts& facts) override;
  recordio::Opened open(const char* path, recordio::OpenFor purpose,
                        const recordio::FileFacts& found) override;
  int describe(recordio::FileHandle handle, recordio::FileFacts& facts) override;
  int duplicate(recordio::FileHandle handle, recordio::FileHandle& copy) override;
  recordio::Transfer read(recordio::FileHandle handle, char* to, std::size_t n) override;
  recordio::Transfer write(recordio::FileHandle handle, const char* from, std::size_t n) override;
  int wait(recordio::FileHandle handle, bool writing) override;
  std::size_t write_now(recordio::FileHandle handle, const char* from, std::size_t n) override;
  void hand_back(recordio::FileHandle handle, std::size_t n) override;
  int cut_here(recordio::FileHandle handle, bool rewriting) override;
  int close(recordio::FileHandle handle) override;

 private:
  struct Handle {
    std::string* bytes;  // the file, the input, or a captured stream
    std::size_t position;
    recordio::FileKind kind;
    bool readable, writable;
    int transfer_error = 0;  // what every read and write fails with
    bool waited = false;     // the runtime waited since the last transfer that would block
  };
  struct Failure {
    int error = 0, after = 0, times = 0;
  };
  // Counts the use; the error number when it is to fail, else 0.
  int fails(Operation operation);
  Handle* handle(recordio::FileHandle h);
  // The handle a transfer may move bytes through, or the transfer's outcome when none moves.
  Handle* transfer(Operation operation, recordio::FileHandle h, bool writing,
                   recordio::Transfer& refused);
  recordio::FileFacts facts_of(const Handle& h) const;

  std::map<recordio::FileHandle, Handle> open_{};
  std::string no_bytes_{};  // what a directory or a device holds
  std::array<Failure, kOperationCount> failures_{};
  std::array<int, kOperationCount> counts_{};
  bool interrupted_ = false;
};

// The fatal path as a test sees it in-process: the lines on standard error, then this exception.
struct Crashed {};

// Runs the runtime over a fresh FakeFiles: the runtime started over, then its start-up as the
// process entry does it (units 0, 5 and 6 preconnected), with a crash handler that throws
// Crashed. On the way out the runtime is started over again, on the platform's files.
class InProcessRuntime {
 public:
  InProcessRuntime();
  ~InProcessRuntime();
  InProcessRuntime(const InProcessRuntime&) = delete;
  InProcessRuntime& operator=(const InProcessRuntime&) = delete;

  FakeFiles& files() { return files_; }

  // What the end of the process does after a STOP, short of ending it: every unit closed and a
  // failure met on the way reported on the fatal path (it throws Crashed). No statement runs
  // after it: the standard streams are closed too.
  void stop();
  // Runs `body`, then stop(): true when the run ended normally, false when it took the fatal path.
  bool run(const std::function<void()>& body);
  // run() over the file `name`, holding `content`, opened first with status "old" on the file
  // unit of the scenarios (support/statements.h).
  bool run_on_file(const std::string& name, const std::string& content,
                   const std::function<void()>& body);

 private:
  FakeFiles files_;
};

}  // namespace testing_support
