// The characters of a record being built by a WRITE.
//
// The records of a run (console lines, rows) fit the storage inside the buffer, so a WRITE
// allocates nothing; a longer record moves to the heap, and a failure to get it there is fatal.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

#include "statement.h"

namespace recordio {

class RecordBuffer {
 public:
  // n more characters at the end of the record, for the caller to fill.
  char* extend(std::size_t n) {
    if (size_ + n > capacity_) grow(size_ + n);
    char* at = data_ + size_;
    size_ += n;
    return at;
  }
  void append(std::string_view text) {
    if (text.empty()) return;
    char* to = extend(text.size());
    if (text.size() == 1) {
      *to = text[0];  // the usual literal: a separator
    } else {
      std::memcpy(to, text.data(), text.size());
    }
  }
  void push_back(char c) { *extend(1) = c; }
  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  RecordBuffer() = default;
  RecordBuffer(const RecordBuffer&) = delete;
  RecordBuffer& operator=(const RecordBuffer&) = delete;
  ~RecordBuffer() {
    if (data_ != inline_) delete[] data_;
  }

 private:
  static constexpr std::size_t kInline = 256;

  [[gnu::noinline]] void grow(std::size_t need) {
    std::size_t capacity = capacity_ * 2;
    while (capacity < need) capacity *= 2;
    char* bigger = new (std::nothrow) char[capacity];
    if (bigger == nullptr) fatal("write", Failure::system(ENOMEM));
    if (size_ != 0) std::memcpy(bigger, data_, size_);
    if (data_ != inline_) delete[] data_;
    data_ = bigger;
    capacity_ = capacity;
  }

  char inline_[kInline] = {};
  char* data_ = inline_;
  std::size_t size_ = 0;
  std::size_t capacity_ = kInline;
};

}  // namespace recordio
