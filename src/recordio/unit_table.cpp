#include "unit_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace recordio {

UnitFailure UnitTable::take_failure() {
  const UnitFailure f = noted_;
  noted_ = {};
  return f;
}

void Unit::note(const char* context, Failure failure) const {
  if (table_->noted_.context == nullptr) table_->noted_ = {context, failure, number_};
}

void UnitTable::preconnect() {
  // Blocks are free at start-up: these cannot fail.
  (void)units_[0].connect(*this, kStandardError, Mode::kWriteOnly, true);
  (void)units_[5].connect(*this, kStandardInput, Mode::kReadOnly, false);
  (void)units_[6].connect(*this, kStandardOutput, Mode::kWriteOnly, true);
  FileFacts console;
  units_[6].set_flush_each_record(files().describe(kStandardOutput, console) == 0 &&
                                  console.kind == FileKind::kTerminal);
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

void UnitTable::release_blocks() noexcept {
  for (Unit& u : units_) {
    if (u.table_ != nullptr) u.give_back_block();
  }
}

void UnitTable::remember_input(const FileIdentity& file) {
  if (input_count_ < kRememberedInputs && !is_input(file)) inputs_[input_count_++] = file;
}

bool UnitTable::is_input(const FileIdentity& file) const {
  return std::find(inputs_, inputs_ + input_count_, file) != inputs_ + input_count_;
}

// --- Connection

void Unit::attach(UnitTable& table) {
  table_ = &table;
  number_ = static_cast<int>(this - table.units_);
}

int Unit::take_block() {
  if (block_ != nullptr) return 0;
  for (int b = 0; b < kBlockCount; ++b) {
    if (!table_->block_taken_[b]) {
      table_->block_taken_[b] = true;
      block_ = &table_->blocks_[b];
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
  Unit::Block* const blocks = table_->blocks_;
  if (block_ >= blocks && block_ < blocks + kBlockCount) {
    table_->block_taken_[block_ - blocks] = false;
  } else {
    delete block_;
  }
  block_ = nullptr;
  name_ = buffer_ = buffer_end_ = next_ = limit_ = record_end_ = nullptr;
  name_length_ = 0;
  named_ = false;
}

int Unit::name_file(UnitTable& table, std::string_view name) {
  attach(table);
  if (const int failure = take_block()) return failure;
  const std::size_t kept = std::min(name.size(), kNameCapacity - 1);
  std::memcpy(name_, name.data(), kept);
  name_[kept] = '\0';
  name_length_ = kept;
  named_ = true;
  return kept == name.size() ? 0 : ENAMETOOLONG;
}

int Unit::connect(UnitTable& table, FileHandle handle, Mode mode, bool written,
                  bool shares_stream) {
  attach(table);
  if (const int failure = take_block()) return failure;
  FileFacts facts;
  const int undescribed = table.files().describe(handle, facts);
  // A named file of unknown kind could not be cut after its rows; a standard stream never is.
  if (undescribed != 0 && named_) return undescribed;
  const bool regular = undescribed == 0 && facts.kind == FileKind::kRegular;
  SignalGuard guard(table.signals());
  handle_ = handle;
  mode_ = mode;
  cut_at_close_ = named_ && regular && !shares_stream;
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
  FileLayer& files = table_->files();
  SignalGuard guard(table_->signals());
  // Whatever was read ahead goes back, so that a file shared with what runs next (standard
  // input from a file) is left just after the last record read.
  if (next_ != limit_) drop_read_ahead();
  if (written_.load(std::memory_order_relaxed) && cut_at_close_ &&
      files.cut_here(handle_, false) != 0 && cut_matters) {
    note("endfile", Failure::runtime(RuntimeError::kTruncate));
  }
  // Some file systems report a failed write only when the file is closed.
  if (named_) {
    if (const int failure = files.close(handle_)) note("close", Failure::system(failure));
  }
  end_flag_ = false;
  written_.store(false, std::memory_order_relaxed);
  connected_ = false;
  // A unit whose CLOSE failed keeps its name for the diagnostic.
  if (!table_->failed()) give_back_block();
}

void Unit::close_quietly(bool wait) noexcept {
  if (!connected_) return;
  FileLayer& files = table_->files();
  (void)write_out(wait);
  if (next_ != limit_) drop_read_ahead();
  if (written_.load(std::memory_order_relaxed) && cut_at_close_)
    (void)files.cut_here(handle_, false);
  if (named_) (void)files.close(handle_);
  connected_ = false;
}

// --- Reading

bool Unit::fill() {
  // A prompt must be visible before the program waits on standard input, whatever the console
  // is (a terminal, a pipe, a file).
  if (handle_ == kStandardInput && !named_) table_->flush_console();
  char* const base = buffer_;
  const std::size_t kept = static_cast<std::size_t>(limit_ - next_);
  if (kept != 0 && next_ != base) std::memmove(base, next_, kept);
  next_ = base;
  limit_ = base + kept;
  FileLayer& files = table_->files();
  for (;;) {
    const Transfer t = files.read(handle_, limit_, kBufferSize - kept);
    int failure = 0;
    switch (t.outcome) {
      case Transfer::Outcome::kMoved:
        limit_ += t.bytes;
        return t.bytes != 0;
      case Transfer::Outcome::kInterrupted:
        continue;
      case Transfer::Outcome::kWouldBlock:
        // A descriptor left non-blocking has nothing yet: wait for it as a blocking one waits.
        failure = files.wait(handle_, false);
        if (failure == 0 || failure == EINTR) continue;
        break;
      case Transfer::Outcome::kFailed:
        failure = t.error;
        break;
    }
    // Not the end of the file: the statement reports it before anything takes it for one.
    note("read", Failure::system(failure));
    return false;
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
  const auto unread = static_cast<std::size_t>(limit_ - next_);
  if (unread != 0) table_->files().hand_back(handle_, unread);
  next_ = limit_ = buffer_;
}

char* Unit::extend_record_slow(std::size_t n) {
  // Makes room: writes out what is published and moves the record to the start of the buffer. A
  // write that fails is noted, and what it could not write is given up.
  const auto write_out_or_give_up = [this] {
    flush();
    if (published_ == 0) return;
    SignalGuard guard(table_->signals());
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

int Unit::write_out(bool wait) noexcept {
  FileLayer& files = table_->files();
  for (;;) {
    const std::size_t total = pending_.load(std::memory_order_relaxed);
    const std::size_t done = written_out_.load(std::memory_order_relaxed);
    if (done == total) break;
    if (!wait) {
      // In a signal handler: a stream that has stopped taking output is given up, not waited for.
      const std::size_t n = files.write_now(handle_, buffer_ + done, total - done);
      if (n == 0) return -1;
      written_out_.store(done + n, std::memory_order_relaxed);
      continue;
    }
    // The write is tried first, and the bytes it moved are noted, with the signals held back: a
    // handler then finds each byte either written and noted or still pending, never written
    // twice. A write that waits for a reader returns early when a signal comes (the handlers do
    // not restart it), and the guard then lets the signal through.
    Transfer t;
    {
      SignalGuard guard(table_->signals());
      t = files.write(handle_, buffer_ + done, total - done);
      if (t.outcome == Transfer::Outcome::kMoved) {
        written_out_.store(done + t.bytes, std::memory_order_relaxed);
      }
    }
    switch (t.outcome) {
      case Transfer::Outcome::kMoved:
      case Transfer::Outcome::kInterrupted:
        continue;
      case Transfer::Outcome::kWouldBlock:
        // A descriptor left non-blocking has no room now: wait for room, with the signals let
        // through, as a blocking one would wait in its write.
        if (const int failure = files.wait(handle_, true); failure != 0 && failure != EINTR) {
          return failure;
        }
        continue;
      case Transfer::Outcome::kFailed:
        return t.error;
    }
  }
  SignalGuard guard(table_->signals());
  written_out_.store(0, std::memory_order_relaxed);
  pending_.store(0, std::memory_order_relaxed);
  forget_published();
  return 0;
}

void Unit::cut_where_writing_starts() {
  // A sequential WRITE makes its record the last of the file. Cutting the file where the first
  // record will go, before any is written, means the file never holds new records followed by
  // the tail of what it held before: a run killed while writing leaves a prefix of its rows.
  if (table_->files().cut_here(handle_, true) != 0) {
    note("endfile", Failure::runtime(RuntimeError::kTruncate));
  }
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
  if (const int failure = write_out(true)) note("write", Failure::system(failure));
}

}  // namespace recordio
