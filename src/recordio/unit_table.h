// The unit table and a unit's connection: a file or standard stream over a raw file descriptor,
// with one buffer that serves reading and writing in turn.
//
// Units sit on raw descriptors rather than stdio streams so that the signal handlers can finish
// the job of closing every unit with async-signal-safe calls only (write, lseek, ftruncate,
// close). Published output (`pending_`) is only ever extended after its bytes are in place, and
// the rare moments when a unit changes shape (a flush, an OPEN, a CLOSE) hold the signals back,
// so a handler always finds a consistent unit.
//
// A connected unit's buffer and name sit in one of a few blocks of static storage: nothing is
// allocated after start-up, so a memory limit never fails a statement halfway.
//
// Nothing here ends the process. A system call that fails is noted as a UnitFailure, and the
// statement's entry point reports it on the fatal path.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "failure.h"
#include "recordio.h"

namespace recordio {

inline constexpr int kUnitCount = 100;
// The units connected at once: standard error, input and output, and the file unit.
inline constexpr int kBlockCount = 4;
// The longest name a unit keeps, its terminating NUL included.
inline constexpr std::size_t kNameCapacity = PATH_MAX;

// What a record delivers besides its characters.
inline constexpr int kEndOfFile = -1;  // the file has ended; the unit's end flag is set
inline constexpr int kLineEnd = -2;    // the record's line end (LF or CR LF), left unconsumed

enum class Mode : unsigned char { kReadWrite, kReadOnly, kWriteOnly };

// A failure a unit met: the work that failed ("read", "write", "close", "endfile"), why, and the
// unit. No context: nothing failed.
struct UnitFailure {
  const char* context = nullptr;
  Failure failure{};
  int unit = 0;
};

// The first failure noted since the last one was taken.
bool unit_failed();
UnitFailure take_unit_failure();

class Unit {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  // Bytes after the buffer that a reader may load, and ignore, past the valid bytes: a record's
  // columns are loaded in whole vectors.
  static constexpr std::size_t kSlack = 128;

  // A connected unit's buffer and name. The first kBlockCount are static storage, untouched (and
  // so costing no memory) until their unit reads or writes.
  struct Block {
    char name[kNameCapacity];
    char bytes[kBufferSize];
    char slack[kSlack];
  };

  bool connected() const { return connected_; }
  bool named() const { return named_; }
  std::string_view name() const { return {name_, name_length_}; }
  // The name as the system calls take it (NUL-terminated); only while named().
  const char* path() const { return name_; }
  Mode mode() const { return mode_; }
  bool end_flag() const { return end_flag_; }
  void set_end_flag() { end_flag_ = true; }

  // Names the unit for the file an OPEN is about to open, so that a diagnostic names the file
  // whatever happens next. Returns 0, ENOMEM when no block can be had, or ENAMETOOLONG (the name
  // is then kept cut short).
  int name_file(std::string_view name);
  // Connects the unit to an open descriptor: a standard stream (unnamed), or the file the unit
  // was named for, whose descriptor it then owns. A written regular file is cut at CLOSE, except
  // one that is standard output's own open file (`shares_console`). Returns 0 or ENOMEM.
  int connect(int fd, Mode mode, bool written, bool shares_console = false);
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
    char* const line_end = extend_record(1);
    const auto published = static_cast<std::size_t>(line_end + 1 - buffer_);
    *line_end = '\n';
    publish_up_to(published);
    if (flush_each_record_) flush();
  }
  // Writes out the published output.
  void flush();

  // The console is line-buffered when it is a terminal.
  void set_flush_each_record(bool on) { flush_each_record_ = on; }

 private:
  friend class UnitTable;
  int peek_slow();
  bool skip_record_slow();
  bool fill();  // false at the end of the file, or when the read fails
  char* extend_record_slow(std::size_t n);
  // Publishes the buffer's bytes up to `end` for output, once they are in place: a handler sees
  // whole records.
  void publish_up_to(std::size_t end) {
    std::atomic_signal_fence(std::memory_order_release);
    published_ = end;
    pending_.store(end, std::memory_order_release);
  }
  void forget_published();
  void note(const char* context, Failure failure) const;
  int take_block();
  void give_back_block();
  // Writes out the published output from where earlier writes stopped; false (errno set) when a
  // write fails or, without `wait`, a stream has no room.
  bool write_out(bool wait) noexcept;
  void drop_read_ahead() noexcept;

  int number_ = 0;
  bool connected_ = false;
  bool named_ = false;
  bool regular_ = false;
  bool cut_at_close_ = false;  // a named regular file, not standard output's own
  bool end_flag_ = false;
  bool flush_each_record_ = false;
  Mode mode_ = Mode::kReadWrite;
  int fd_ = -1;
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

class UnitTable {
 public:
  constexpr UnitTable() {
    for (int n = 0; n < kUnitCount; ++n) units_[n].number_ = n;
  }
  // The unit numbered n; nullptr for a number outside 0..99.
  Unit* at(ftnint n) { return n >= 0 && n < kUnitCount ? &units_[n] : nullptr; }
  Unit& unit(int n) { return units_[n]; }

  // Unit 0 to standard error, 5 to standard input, 6 to standard output.
  void preconnect();
  // Writes the console's pending output (before standard input is read, so prompts show).
  void flush_console();
  // Closes units 0 to 99 in order; a failing write is noted, a failing cut is not.
  void close_all();
  void close_all_quietly(bool wait) noexcept;

 private:
  Unit units_[kUnitCount];
};

UnitTable& units();

}  // namespace recordio
