// The characters of a record being built by a WRITE.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace recordio {

class RecordBuffer {
 public:
  // n more characters at the end of the record, for the caller to fill.
  char* extend(std::size_t n) {
    if (size_ + n > capacity_) grow(size_ + n);
    char* at = data_.get() + size_;
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
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  void grow(std::size_t need) {
    std::size_t capacity = capacity_ == 0 ? 256 : capacity_ * 2;
    while (capacity < need) capacity *= 2;
    auto bigger = std::make_unique<char[]>(capacity);
    if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace recordio
