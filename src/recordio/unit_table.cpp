#include "unit_table.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "signal_guard.h"
#include "system_calls.h"

namespace recordio {

namespace {

// The table is made before any code runs and never destroyed: a signal handler or the exit
// handler may still close units while static objects are being torn down.
struct TableStorage {
  union {
    UnitTable table;
  };
  constexpr TableStorage() : table() {}
  ~TableStorage() {}
};

constinit TableStorage storage;

Unit::Block blocks[kBlockCount];  // zero pages until used
bool block_taken[kBlockCount];

bool is_static(const Unit::Block* b) {
  return b >= blocks && b < blocks + kBlockCount;
}

}  // namespace

UnitTable& units() {
  return storage.table;
}

namespace {
UnitFailure noted;
}

bool unit_failed() {
  return noted.context != nullptr;
}

UnitFailure take_unit_failure() {
  const UnitFailure f = noted;
  noted = {};
  return f;
}

void Unit::note(const char* context, Failure failure) const {
  if (noted.context == nullptr) noted = {context, failure, number_};
}

void UnitTable::preconnect() {
  // Blocks are free at start-up: these cannot fail.
  (void)units_[0].connect(STDERR_FILENO, Mode::kWriteOnly, true);
  (void)units_[5].connect(STDIN_FILENO, Mode::kReadOnly, false);
  (void)units_[6].connect(STDOUT_FILENO, Mode::kWriteOnly, true);
  units_[6].set_flush_each_record(system_calls().is_terminal(STDOUT_FILENO));
  units_[0].set_flush_each_record(true);
}

void UnitTable::flush_console() {
  for (int n : {6, 0}) {
    if (units_[n].connected()) units_[n].flush();
  }
}

void UnitTable::close_all() {
  for (Unit& u : units_) u.close(false);
}

void UnitTable::close_all_quietly(bool wait) noexcept {
  for (Unit& u : units_) u.close_quietly(wait);
}

// --- Connection

int Unit::take_block() {
  if (block_ != nullptr) return 0;
  for (int b = 0; b < kBlockCount; ++b) {
    if (!block_taken[b]) {
      block_taken[b] = true;
      block_ = &blocks[b];
      break;
    }
  }
  // More units at once than a run connects: from the heap, with its failure reported.
  if (block_ == nullptr) block_ = new (std::nothrow) Block;
  if (block_ == nullptr) return ENOMEM;
  name_ = block_->name;
  buffer_ = block_->bytes;
  buffer_end_ = buffer_ + kBufferSize;
  next_ = limit_ = record_end_ = buffer_;
  return 0;
}

void Unit::give_back_block() {
  if (block_ == nullptr) return;
  if (is_static(block_)) {
    block_taken[block_ - blocks] = false;
  } else {
    delete block_;
  }
  block_ = nullptr;
  name_ = buffer_ = buffer_end_ = next_ = limit_ = record_end_ = nullptr;
  name_length_ = 0;
  named_ = false;
}

int Unit::name_file(std::string_view name) {
  if (const int failure = take_block()) return failure;
  const std::size_t kept = std::min(name.size(), kNameCapacity - 1);
  std::memcpy(name_, name.data(), kept);
  name_[kept] = '\0';
  name_length_ = kept;
  named_ = true;
  return kept == name.size() ? 0 : ENAMETOOLONG;
}

int Unit::connect(int fd, Mode mode, bool written, bool shares_console) {
  if (const int failure = take_block()) return failure;
  struct stat st {};
  const bool regular = system_calls().fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  SignalGuard guard;
  fd_ = fd;
  mode_ = mode;
  regular_ = regular;
  cut_at_close_ = named_ && regular && !shares_console;
  next_ = limit_ = buffer_;
  pending_.store(0, std::memory_order_relaxed);
  written_out_.store(0, std::memory_order_relaxed);
  written_.store(written, std::memory_order_relaxed);
  end_flag_ = false;
  connected_ = true;
  return 0;
}

void Unit::reset_flags() {
  end_flag_ = false;
  written_.store(false, std::memory_order_relaxed);
}

void Unit::close(bool cut_matters) {
  if (!connected_) return;
  flush();
  SignalGuard guard;
  // Whatever was read ahead goes back, so that a file shared with what runs next (standard
  // input from a file) is left just after the last record read.
  if (next_ != limit_) drop_read_ahead();
  if (written_.load(std::memory_order_relaxed) && cut_at_close_) {
    const off_t at = system_calls().lseek(fd_, 0, SEEK_CUR);
    if ((at < 0 || system_calls().ftruncate(fd_, at) != 0) && cut_matters) {
      note("endfile", Failure::runtime(RuntimeError::kTruncate));
    }
  }
  // Some file systems report a failed write only when the file is closed.
  if (named_ && system_calls().close(fd_) != 0 && errno != EINTR) {
    note("close", Failure::system(errno));
  }
  end_flag_ = false;
  written_.store(false, std::memory_order_relaxed);
  connected_ = false;
  fd_ = -1;
  // A unit whose CLOSE failed keeps its name for the diagnostic.
  if (!unit_failed()) give_back_block();
}

void Unit::close_quietly(bool wait) noexcept {
  if (!connected_) return;
  write_out(wait);
  if (next_ != limit_) drop_read_ahead();
  if (written_.load(std::memory_order_relaxed) && cut_at_close_) {
    const off_t at = system_calls().lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) (void)system_calls().ftruncate(fd_, at);
  }
  if (named_) system_calls().close(fd_);
  connected_ = false;
  fd_ = -1;
}

// --- Reading

bool Unit::fill() {
  // A prompt must be visible before the program waits on standard input, whatever the console
  // is (a terminal, a pipe, a file).
  if (fd_ == STDIN_FILENO && !named_) units().flush_console();
  char* const base = buffer_;
  const std::size_t kept = static_cast<std::size_t>(limit_ - next_);
  if (kept != 0 && next_ != base) std::memmove(base, next_, kept);
  next_ = base;
  limit_ = base + kept;
  for (;;) {
    const ssize_t n = system_calls().read(fd_, limit_, kBufferSize - kept);
    if (n > 0) {
      limit_ += n;
      return true;
    }
    if (n == 0) return false;
    if (errno != EINTR) {
      // Not the end of the file: the statement reports it before anything takes it for one.
      note("read", Failure::system(errno));
      return false;
    }
  }
}

int Unit::peek_slow() {
  for (;;) {
    if (next_ < limit_) {
      const auto c = static_cast<unsigned char>(*next_);
      if (c == '\n') return kLineEnd;
      if (c != '\r') return c;
      // A CR ends the record only together with the LF after it.
      if (next_ + 1 < limit_) return next_[1] == '\n' ? kLineEnd : '\r';
      if (!fill()) return '\r';
      continue;
    }
    if (!fill()) {
      end_flag_ = true;
      return kEndOfFile;
    }
  }
}

bool Unit::skip_record_slow() {
  for (;;) {
    const auto left = static_cast<std::size_t>(limit_ - next_);
    if (const void* lf = std::memchr(next_, '\n', left)) {
      next_ = static_cast<char*>(const_cast<void*>(lf)) + 1;
      return true;
    }
    next_ = limit_;
    if (!fill()) return false;
  }
}

bool Unit::at_end() {
  if (next_ < limit_) return false;
  return !fill();
}

// --- Writing

void Unit::drop_read_ahead() noexcept {
  const auto unread = static_cast<off_t>(limit_ - next_);
  if (unread != 0) (void)system_calls().lseek(fd_, -unread, SEEK_CUR);
  next_ = limit_ = buffer_;
}

char* Unit::extend_record_slow(std::size_t n) {
  // Makes room: writes out what is published and moves the record to the start of the buffer. A
  // write that fails is noted, and what it could not write is given up.
  const auto write_out_or_give_up = [this] {
    flush();
    if (published_ == 0) return;
    SignalGuard guard;
    written_out_.store(0, std::memory_order_relaxed);
    pending_.store(0, std::memory_order_relaxed);
    forget_published();
  };
  std::size_t record = record_length();
  const std::size_t start = published_;
  if (start != 0) {
    write_out_or_give_up();
    std::memmove(buffer_, buffer_ + start, record);
  }
  if (record + n >= kBufferSize) {
    // A record longer than the buffer goes out in pieces.
    publish_up_to(published_ + record);
    record = 0;
    write_out_or_give_up();
  }
  char* at = buffer_ + record;
  record_end_ = at + n;
  return at;
}

void Unit::append_to_record(std::string_view text) {
  while (!text.empty()) {
    const std::string_view piece = text.substr(0, kBufferSize / 4);
    std::memcpy(extend_record(piece.size()), piece.data(), piece.size());
    text.remove_prefix(piece.size());
  }
}

bool Unit::write_out(bool wait) noexcept {
  for (;;) {
    const std::size_t total = pending_.load(std::memory_order_relaxed);
    const std::size_t done = written_out_.load(std::memory_order_relaxed);
    if (done == total) break;
    // A pipe or terminal may take its time. The wait for room happens with the signals let
    // through, so that an interrupt still ends a run whose reader has stopped reading; without
    // `wait` (in a signal handler) a stream without room is given up. The write itself, and
    // noting how far it got, happen with the signals held back, and are short: a pipe with room
    // takes PIPE_BUF bytes at once.
    if (!regular_) {
      pollfd p{fd_, POLLOUT, 0};
      int ready;
      while ((ready = system_calls().poll(&p, 1, wait ? -1 : 0)) < 0 && errno == EINTR) {
      }
      if (ready == 0) return false;
    }
    SignalGuard guard;
    const std::size_t chunk =
        regular_ ? total - done : std::min<std::size_t>(total - done, PIPE_BUF);
    const ssize_t n = system_calls().write(fd_, buffer_ + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written_out_.store(done + static_cast<std::size_t>(n), std::memory_order_relaxed);
  }
  SignalGuard guard;
  written_out_.store(0, std::memory_order_relaxed);
  pending_.store(0, std::memory_order_relaxed);
  forget_published();
  return true;
}

void Unit::forget_published() {
  // The record being built keeps its length; extend_record_slow, the one caller with a record
  // in progress, moves its bytes to the start of the buffer.
  record_end_ = buffer_ + record_length();
  published_ = 0;
}

void Unit::flush() {
  if (published_ == 0) return;
  // Noted against this unit: the failure may surface at CLOSE or at exit, long after the
  // statement that produced the output.
  if (!write_out(true)) note("write", Failure::system(errno));
}

}  // namespace recordio
