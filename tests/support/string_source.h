// Records held in a string, delivered to the runtime's editors as a unit delivers a file: the line
// end (LF, or CR LF) as kLineEnd without consuming it, kEndOfFile once the string is used up; a
// lone CR is an ordinary character. Taking anything but an ordinary character, or skipping over a
// line end or past what was handed out, is a misuse, recorded for the caller to check.
#pragma once

#include <cstddef>
#include <string_view>

#include "recordio/unit_table.h"

namespace testing_support {

// Characters one at a time.
class StringSource {
 public:
  explicit StringSource(std::string_view text) : text_(text) {}

  int peek() const { return at(pos_); }
  void take() {
    if (peek() < 0) {
      misused_ = true;
      return;
    }
    ++pos_;
  }

  std::size_t pos() const { return pos_; }
  void seek(std::size_t pos) { pos_ = pos; }
  bool misused() const { return misused_; }

 protected:
  int at(std::size_t i) const {
    if (i >= text_.size()) return recordio::kEndOfFile;
    const auto c = static_cast<unsigned char>(text_[i]);
    if (c == '\n' || (c == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n')) {
      return recordio::kLineEnd;
    }
    return c;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool misused_ = false;
};

// The same, also handing out the upcoming bytes it holds in memory, as a unit's buffer does: all
// of the rest (kWhole), at most `size` of them (a window), or those up to the end of the current
// piece when the text is cut into pieces of `size` bytes; so that a field may lie wholly, just, or
// only partly in memory, or begin near the end of a piece.
class BufferedStringSource : public StringSource {
 public:
  enum class Cut { kWhole, kWindow, kPieces };

  BufferedStringSource(std::string_view text, Cut cut, std::size_t size = 0)
      : StringSource(text), cut_(cut), size_(size) {}

  std::string_view buffered() const {
    if (pos_ >= text_.size()) return {};
    std::size_t end = text_.size();
    if (cut_ == Cut::kWindow && end - pos_ > size_) end = pos_ + size_;
    if (cut_ == Cut::kPieces && end > (pos_ / size_ + 1) * size_) end = (pos_ / size_ + 1) * size_;
    return text_.substr(pos_, end - pos_);
  }
  void skip(std::size_t n) {
    if (n > buffered().size()) {
      misused_ = true;
      return;
    }
    for (std::size_t i = pos_; i < pos_ + n; ++i) {
      if (at(i) < 0) misused_ = true;
    }
    pos_ += n;
  }

 private:
  Cut cut_;
  std::size_t size_;
};

}  // namespace testing_support
