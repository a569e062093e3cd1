#include "support/fake_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>

#include "recordio/recordio.h"
#include "recordio/runtime.h"
#include "recordio/statement.h"
#include "support/statements.h"

namespace testing_support {

using recordio::FileFacts;
using recordio::FileHandle;
using recordio::FileKind;
using recordio::Transfer;

void FakeFiles::fail(Operation operation, int error, int after, int times) {
  failures_[operation] = {error, after, times};
}

int FakeFiles::fails(Operation operation) {
  ++counts_[operation];
  Failure& f = failures_[operation];
  if (f.times == 0) return 0;
  if (f.after > 0) {
    --f.after;
    return 0;
  }
  --f.times;
  return f.error;
}

FakeFiles::Handle* FakeFiles::handle(FileHandle h) {
  if (open_.empty()) {
    // The standard streams, as a process starts with them: pipes (standard output a terminal
    // while console_is_terminal).
    open_[recordio::kStandardInput] = {&input, 0, FileKind::kFifo, true, false};
    open_[recordio::kStandardOutput] = {&out, 0, FileKind::kFifo, false, true};
    open_[recordio::kStandardError] = {&err, 0, FileKind::kFifo, false, true};
  }
  const auto d = open_.find(h);
  return d == open_.end() ? nullptr : &d->second;
}

FileFacts FakeFiles::facts_of(const Handle& h) const {
  return {h.kind, {1, static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h.bytes))}};
}

int FakeFiles::look_up(const char* path, FileFacts& facts) {
  facts = {};
  if (const int error = fails(kLookUp)) return error;
  if (const auto stream = stream_names.find(path); stream != stream_names.end()) {
    facts = facts_of(*handle(stream->second));
  } else if (directories.count(path) != 0) {
    facts = facts_of({&no_bytes_, 0, FileKind::kDirectory, true, false});
  } else if (full_devices.count(path) != 0) {
    facts = facts_of({&no_bytes_, 0, FileKind::kDevice, true, true});
  } else if (const auto file = files.find(path); file != files.end()) {
    facts = facts_of({&file->second, 0, FileKind::kRegular, true, true});
  } else {
    return ENOENT;
  }
  return 0;
}

recordio::Opened FakeFiles::open(const char* path, recordio::OpenFor purpose, const FileFacts&) {
  using recordio::Mode;
  handle(0);
  if (const int error = fails(kOpen)) return {-1, Mode::kReadWrite, false, error};
  const bool writing = purpose == recordio::OpenFor::kWriting;
  Handle h{&no_bytes_, 0, FileKind::kDevice, true, true};
  Mode mode = Mode::kReadWrite;
  bool created = false;
  if (directories.count(path) != 0) {
    h = {&no_bytes_, 0, FileKind::kDirectory, true, false, EISDIR};
    mode = Mode::kReadOnly;
  } else if (full_devices.count(path) != 0) {
    h.transfer_error = ENOSPC;
  } else {
    auto file = files.find(path);
    if (file == files.end()) {
      if (!writing) return {-1, Mode::kReadWrite, false, ENOENT};
      file = files.emplace(path, std::string()).first;
      created = true;
      mode = Mode::kWriteOnly;
    } else if (read_only.count(path) != 0) {
      mode = Mode::kReadOnly;
    }
    h = {&file->second, 0, FileKind::kRegular, mode != Mode::kWriteOnly, mode != Mode::kReadOnly};
  }
  FileHandle fd = 3;
  while (open_.count(fd) != 0) ++fd;
  open_[fd] = h;
  return {fd, mode, created, 0};
}

int FakeFiles::describe(FileHandle h, FileFacts& facts) {
  facts = {};
  if (const int error = fails(kDescribe)) return error;
  const Handle* d = handle(h);
  if (d == nullptr) return EBADF;
  facts = facts_of(*d);
  if (h == recordio::kStandardOutput && console_is_terminal) facts.kind = FileKind::kTerminal;
  return 0;
}

int FakeFiles::duplicate(FileHandle h, FileHandle& copy) {
  if (const int error = fails(kDuplicate)) return error;
  const Handle* d = handle(h);
  if (d == nullptr) return EBADF;
  copy = 3;
  while (open_.count(copy) != 0) ++copy;
  open_[copy] = *d;
  return 0;
}

FakeFiles::Handle* FakeFiles::transfer(Operation operation, FileHandle h, bool writing,
                                       Transfer& refused) {
  if (interrupt_transfers && !interrupted_) {
    ++counts_[operation];
    interrupted_ = true;
    refused = {Transfer::Outcome::kInterrupted, 0, 0};
    return nullptr;
  }
  interrupted_ = false;
  if (const int error = fails(operation)) {
    refused = {Transfer::Outcome::kFailed, 0, error};
    return nullptr;
  }
  Handle* d = handle(h);
  if (d == nullptr) {
    refused = {Transfer::Outcome::kFailed, 0, EBADF};
    return nullptr;
  }
  if (transfers_would_block && !d->waited) {
    refused = {Transfer::Outcome::kWouldBlock, 0, 0};
    return nullptr;
  }
  d->waited = false;
  const bool allowed = writing ? d->writable : d->readable;
  if (!allowed || d->transfer_error != 0) {
    refused = {Transfer::Outcome::kFailed, 0, allowed ? d->transfer_error : EBADF};
    return nullptr;
  }
  return d;
}

Transfer FakeFiles::read(FileHandle h, char* to, std::size_t n) {
  Transfer refused;
  Handle* d = transfer(kRead, h, false, refused);
  if (d == nullptr) return refused;
  const std::size_t left = d->position < d->bytes->size() ? d->bytes->size() - d->position : 0;
  const std::size_t moved = std::min({n, most_per_transfer, left});
  std::memcpy(to, d->bytes->data() + d->position, moved);
  d->position += moved;
  return {Transfer::Outcome::kMoved, moved, 0};
}

Transfer FakeFiles::write(FileHandle h, const char* from, std::size_t n) {
  Transfer refused;
  Handle* d = transfer(kWrite, h, true, refused);
  if (d == nullptr) return refused;
  std::string& bytes = *d->bytes;
  if (d->kind != FileKind::kRegular) d->position = bytes.size();
  const std::size_t moved = std::min(n, most_per_transfer);
  if (bytes.size() < d->position + moved) bytes.resize(d->position + moved);
  std::memcpy(bytes.data() + d->position, from, moved);
  d->position += moved;
  write_sizes.push_back(moved);
  return {Transfer::Outcome::kMoved, moved, 0};
}

int FakeFiles::wait(FileHandle h, bool) {
  if (const int error = fails(kWait)) return error;
  Handle* d = handle(h);
  if (d == nullptr) return EBADF;
  d->waited = true;
  return 0;
}

std::size_t FakeFiles::write_now(FileHandle h, const char* from, std::size_t n) {
  const Handle* d = handle(h);
  // A stream that would block takes nothing now.
  if (d == nullptr || (transfers_would_block && !d->waited)) return 0;
  const Transfer t = write(h, from, n);
  return t.outcome == Transfer::Outcome::kMoved ? t.bytes : 0;
}

void FakeFiles::hand_back(FileHandle h, std::size_t n) {
  Handle* d = handle(h);
  if (d != nullptr && d->kind == FileKind::kRegular) d->position -= std::min(n, d->position);
}

int FakeFiles::cut_here(FileHandle h, bool) {
  if (const int error = fails(kCut)) return error;
  Handle* d = handle(h);
  if (d == nullptr) return EBADF;
  if (d->kind != FileKind::kRegular || !d->writable) return EINVAL;
  d->bytes->resize(d->position);
  return 0;
}

int FakeFiles::close(FileHandle h) {
  const int error = fails(kClose);
  // A failed close still releases the handle, as the system's does.
  if (handle(h) == nullptr) return EBADF;
  open_.erase(h);
  return error;
}

namespace {

[[noreturn]] void throw_crashed() {
  throw Crashed{};
}

}  // namespace

InProcessRuntime::InProcessRuntime() {
  recordio::reset_runtime();
  recordio::runtime().units.use_files(&files_);
  recordio::runtime().crash_handler = throw_crashed;
  recordio::f_init();
}

void InProcessRuntime::stop() {
  // As the exit handler f_exit does.
  recordio::runtime().units.close_all();
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

bool InProcessRuntime::run_on_file(const std::string& name, const std::string& content,
                                   const std::function<void()>& body) {
  files_.files[name] = content;
  return run([&] {
    recordio_testing::open_file(recordio_testing::kFileUnit, recordio_testing::text80(name), "old");
    body();
  });
}

InProcessRuntime::~InProcessRuntime() {
  // A unit the fatal path closed keeps its buffer and its name, as it may in a process that ends
  // anyway; starting the runtime over gives them back.
  recordio::runtime().units.close_all_quietly(false);
  recordio::reset_runtime();
}

}  // namespace testing_support
