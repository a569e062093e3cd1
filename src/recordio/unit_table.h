// The unit table and a unit's connection: a file or standard stream over the file layer, with one
// buffer that serves reading and writing in turn.
//
// Units sit on the file layer's handles rather than stdio streams so that the signal handlers
// can finish the job of closing every unit with async-signal-safe operations only. Published
// output (`pending_`) is only ever extended after its bytes are in place, and the rare moments
// when a unit changes shape (a write-out, an OPEN, a CLOSE) hold the signals back, so a handler
// always finds a consistent unit.
//
// A connected unit's buffer and name sit in one of a few blocks the table holds: nothing is
// allocated after start-up, so a memory limit never fails a statement halfway.
//
// Nothing here ends the process. An operation that fails is noted as a UnitFailure, and the
// statement's entry point reports it on the fatal path.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "failure.h"
#include "file.h"
#include "line_end.h"
#include "recordio.h"
#include "signal_guard.h"

namespace recordio {

inline constexpr int kUnitCount = 100;
// The units connected at once: standard error, input and output, and the file unit.
inline constexpr int kBlockCount = 4;
// The longest name a unit keeps, its terminating NUL included.
inline constexpr std::size_t kNameCapacity = PATH_MAX;

// What a record delivers besides its characters.
inline constexpr int kEndOfFile = -1;  // the file has ended; the unit's end flag is set
inline constexpr int kLineEnd = -2;    // the record's line end (LF or CR LF), left unconsumed

// A failure a unit met: the work that failed ("read", "write", "close", "endfile"), why, and the
// unit. No context: nothing failed.
struct UnitFailure {
  const char* context = nullptr;
  Failure failure{};
  int unit = 0;
};

class UnitTable;

class Unit {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  // Bytes after the buffer that a reader may load, and ignore, past the valid bytes: a record's
  // columns are loaded in whole vectors.
  static constexpr std::size_t kSlack = 128;

  // A connected unit's buffer and name. The table holds kBlockCount of them, untouched (and so
  // costing no memory) until their unit reads or writes; more come from the heap.
  struct Block {
    char name[kNameCapacity] = {};
    char bytes[kBufferSize] = {};
    char slack[kSlack] = {};
  };

  bool connected() const { return connected_; }
  bool named() const { return named_; }
  std::string_view name() const { return {name_, name_length_}; }
  // The name as the system calls take it (NUL-terminated); only while named().
  const char* path() const { return name_; }
  Mode mode() const { return mode_; }
  bool end_flag() const { return end_flag_; }
  void set_end_flag() { end_flag_ = true; }

  // Names the unit, of `table`, for the file an OPEN is about to open, so that a diagnostic names
  // the file whatever happens next. Returns 0, ENOMEM when no block can be had, or ENAMETOOLONG
  // (the name is then kept cut short).
  int name_file(UnitTable& table, std::string_view name);
  // Connects the unit, of `table`, to an open handle: a standard stream (unnamed), or the file the
  // unit was named for, whose handle it then owns. A written regular file is cut at CLOSE, except
  // one reached through a standard stream's own open file (`shares_stream`). Returns 0, ENOMEM,
  // or for a named file the failure to tell what it is.
  int connect(UnitTable& table, FileHandle handle, Mode mode, bool written,
              bool shares_stream = false);
  void reset_flags();

  // CLOSE keeping the file: pending output written, a written regular file cut at its position,
  // a named descriptor closed. A failed cut is noted only when `cut_matters`.
  void close(bool cut_matters);
  // The same with async-signal-safe calls only, ignoring every failure: for the fatal path and
  // the signal handlers. Without `wait`, output a stream has no room for is given up.
  void close_quietly(bool wait) noexcept;

  // --- Reading: the characters of the current record, one at a time.
  void begin_reading() {
    if (published_ != 0) flush();
    written_.store(false, std::memory_order_relaxed);
  }
  // The next character, kLineEnd at the record's line end, or kEndOfFile (end flag set).
  int peek() {
    if (next_ < limit_) {
      const auto c = static_cast<unsigned char>(*next_);
      if (c == '\n') return kLineEnd;
      if (c != '\r') return c;
    }
    return peek_slow();
  }
  // Consumes the ordinary character that peek() delivered.
  void take() { ++next_; }
  // The bytes read ahead and not yet consumed, and consuming n of them (ordinary characters).
  std::string_view buffered() const { return {next_, static_cast<std::size_t>(limit_ - next_)}; }
  void skip(std::size_t n) { next_ += n; }
  // Makes at least n bytes ahead contiguous in the buffer (n < kBufferSize / 2), or all those
  // through the next line end, or all up to the end of the file (or a read that fails, which is
  // noted): a record's columns can then be read from buffered() without asking for more.
  void make_contiguous(std::size_t n) {
    while (static_cast<std::size_t>(limit_ - next_) < n &&
           std::memchr(next_, '\n', static_cast<std::size_t>(limit_ - next_)) == nullptr &&
           fill()) {
    }
  }
  // Reads and discards through the next line end; false when the file ends first (or a read
  // fails). A record read through its last field has its line end next.
  bool skip_record() {
    if (next_ < limit_ && *next_ == '\n') [[likely]] {
      ++next_;
      return true;
    }
    return skip_record_slow();
  }
  // True when nothing more can be read; consumes nothing.
  bool at_end();

  // --- Writing: the record being built sits in the buffer after the published output, where a
  // signal handler does not see it until it is ended.
  // Switches to writing in place, keeping the position; sets the written flag.
  void begin_writing() {
    if (next_ != limit_) drop_read_ahead();
    if (cut_at_close_ && !written_.load(std::memory_order_relaxed)) cut_where_writing_starts();
    written_.store(true, std::memory_order_relaxed);
  }
  // Room for n more bytes (n < kBufferSize / 2) at the end of the record being built.
  char* extend_record(std::size_t n) {
    char* const at = record_end_;
    if (n < static_cast<std::size_t>(buffer_end_ - at)) [[likely]] {
      record_end_ = at + n;
      return at;
    }
    return extend_record_slow(n);
  }
  // Whether n more bytes go in place at the end of the record being built, with no check, and
  // making room for up to kBufferSize / 2 of them without taking them.
  bool has_room(std::size_t n) const { return n < record_room(); }
  void make_room() { extend_record_slow(0); }
  // The end of the record being built, and the room after it, for an editor that writes in
  // place and then moves the end on (by no more than the room less one).
  char* record_end() const { return record_end_; }
  std::size_t record_room() const { return static_cast<std::size_t>(buffer_end_ - record_end_); }
  void set_record_end(char* end) { record_end_ = end; }
  void append_to_record(std::string_view text);
  std::size_t record_length() const {
    return static_cast<std::size_t>(record_end_ - (buffer_ + published_));
  }
  // Ends the record being built with its line end and publishes it for output.
  void end_record() {
    char* const line_end = extend_record(kWrittenLineEnd.size());
    std::memcpy(line_end, kWrittenLineEnd.data(), kWrittenLineEnd.size());
    const auto published = static_cast<std::size_t>(line_end + kWrittenLineEnd.size() - buffer_);
    publish_up_to(published);
    if (flush_each_record_) flush();
  }
  // Writes out the published output.
  void flush();

  // The console is line-buffered when it is a terminal.
  void set_flush_each_record(bool on) { flush_each_record_ = on; }

 private:
  friend class UnitTable;
  void attach(UnitTable& table);
  // Out of line, so that the statements' in-line paths around them need no stack frame.
  [[gnu::noinline]] int peek_slow();
  [[gnu::noinline]] bool skip_record_slow();
  [[gnu::noinline]] bool fill();  // false at the end of the file, or when the read fails
  char* extend_record_slow(std::size_t n);
  // Publishes the buffer's bytes up to `end` for output, once they are in place: a handler sees
  // whole records.
  void publish_up_to(std::size_t end) {
    std::atomic_signal_fence(std::memory_order_release);
    published_ = end;
    pending_.store(end, std::memory_order_release);
  }
  void forget_published();
  void cut_where_writing_starts();
  void note(const char* context, Failure failure) const;
  int take_block();
  void give_back_block();
  // Writes out the published output from where earlier writes stopped: 0, or the system's error
  // number. Without `wait` (in a signal handler) only what the file takes at once is written, and
  // the rest given up (-1).
  int write_out(bool wait) noexcept;
  void drop_read_ahead() noexcept;

  // Every member starts as zero, so that the runtime that holds the table starts as zeros.
  UnitTable* table_ = nullptr;  // set once the unit is named or connected
  int number_ = 0;
  bool connected_ = false;
  bool named_ = false;
  bool cut_at_close_ = false;  // a named regular file, not reached through a standard stream
  bool end_flag_ = false;
  bool flush_each_record_ = false;
  Mode mode_ = Mode::kReadWrite;
  FileHandle handle_ = 0;   // only while connected
  Block* block_ = nullptr;  // holds buffer_ and name_
  char* name_ = nullptr;
  std::size_t name_length_ = 0;
  char* buffer_ = nullptr;
  // Reading: the unread part of the buffer.
  char* next_ = nullptr;
  char* limit_ = nullptr;
  // Writing: the bytes of buffer_ published for output (a copy the statements read, and the one
  // a signal handler reads), how many of them are already written out, the end of the record
  // being built after them, and whether the last operation wrote.
  char* buffer_end_ = nullptr;
  std::size_t published_ = 0;
  char* record_end_ = nullptr;
  std::atomic<std::size_t> pending_{0};
  std::atomic<std::size_t> written_out_{0};
  std::atomic<bool> written_{false};
};

// The units, the blocks their buffers sit in, the failure they noted, the file layer they work
// on, and the signal guards' state.
class UnitTable {
 public:
  // The unit numbered n; nullptr for a number outside 0..99.
  Unit* at(ftnint n) { return n >= 0 && n < kUnitCount ? &units_[n] : nullptr; }
  Unit& unit(int n) { return units_[n]; }

  // The file layer the units work on: the platform's, unless a test put a fake in its place.
  FileLayer& files() { return files_ != nullptr ? *files_ : platform_files(); }
  void use_files(FileLayer* files) { files_ = files; }
  SignalState& signals() { return signals_; }

  // The first failure noted since the last one was taken.
  bool failed() const { return noted_.context != nullptr; }
  UnitFailure take_failure();

  // Unit 0 to standard error, 5 to standard input, 6 to standard output.
  void preconnect();
  // Writes the console's pending output (before standard input is read, so prompts show).
  void flush_console();
  // Closes units 0 to 99 in order; a failing write is noted, a failing cut is not.
  void close_all();
  void close_all_quietly(bool wait) noexcept;
  // Gives back the blocks taken from the heap (a runtime that starts over).
  void release_blocks() noexcept;

  // The files OPENs of status "old" have read in this run, which no output may be. The first
  // kRememberedInputs are kept: a run reads three.
  static constexpr int kRememberedInputs = 8;
  void remember_input(const FileIdentity& file);
  bool is_input(const FileIdentity& file) const;

 private:
  friend class Unit;
  Unit units_[kUnitCount];
  Unit::Block blocks_[kBlockCount];
  bool block_taken_[kBlockCount] = {};
  UnitFailure noted_;
  FileIdentity inputs_[kRememberedInputs] = {};
  int input_count_ = 0;
  FileLayer* files_ = nullptr;
  SignalState signals_;
};

}  // namespace recordio
