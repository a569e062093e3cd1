// Format texts: compiled once into data items, and the walk over them that statements share.
//
// A format is compiled into a flat list of data items with every repeat count expanded; each
// item carries the literal text the walk meets before it. The walk is a cursor over the items;
// a statement writes an item's literal before its field, and at its end the literal up to the
// next item (or the format's last literal). The walk never starts a format over: a statement
// transfers at most as many items as its format has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace recordio {

// A data edit descriptor: Aw (or A), Ew.d, Fw.d.
struct DataEdit {
  char code;     // 'A', 'E' or 'F'
  int width;     // w; for A without a width, 0 (the item's length is the width)
  int decimals;  // d
};

// A data item and the literal text before it (after the previous data item). The item after a
// format's last carries the format's closing literal, and no edit.
struct DataItem {
  DataEdit edit;
  std::uint32_t prefix_offset;  // where the literal text sits in the format's literal pool
  std::uint32_t prefix_length;
};

class Format {
 public:
  // Limits that keep a compiled format in fixed storage, so that compiling one allocates
  // nothing: data items and literals after expanding repeat counts, the bytes of literal text,
  // and the width of a numeric field (whose digits are kept whole, for exact conversion).
  static constexpr std::size_t kMaxParts = 256;
  static constexpr std::size_t kMaxLiteralBytes = 1024;
  static constexpr int kMaxNumericWidth = 256;

  // Compiles a format text; nullopt when it is not a valid format.
  static std::optional<Format> parse(std::string_view text);

  const DataItem* begin() const { return items_; }
  const DataItem* end() const { return items_ + item_count_; }
  std::string_view prefix(const DataItem& item) const {
    return {literals_ + item.prefix_offset, item.prefix_length};
  }
  bool has_literals() const { return literal_length_ != 0; }
  std::size_t literal_length() const { return literal_length_; }

 private:
  friend class FormatParser;
  DataItem items_[kMaxParts + 1] = {};  // the items, then the closing literal
  std::size_t item_count_ = 0;
  // Every byte set, so that a one-byte look at an item's literal (of zero or one byte) is defined.
  char literals_[kMaxLiteralBytes] = {};
  std::size_t literal_length_ = 0;
};

// The compiled forms of the constant format texts statements have used. Format texts are
// constant data, so a text's address identifies it. A run uses a handful; a text beyond the
// cache's room is compiled again into its last place whenever a statement starts with it.
class FormatCache {
 public:
  static constexpr std::size_t kRoom = 8;

  // The compiled form of a constant format text, compiled on its first use only; nullptr for a
  // text that does not compile. (The statements keep the one they used last at hand.)
  const Format* of(const char* text);

 private:
  struct Compiled {
    const char* text = nullptr;
    Format format;
  };
  Compiled compiled_[kRoom];
  std::size_t count_ = 0;
};

// The walk of one statement over its format.
class FormatWalk {
 public:
  // Before any format is started, the walk is at the end of one without items.
  void start(const Format& format) {
    format_ = &format;
    next_ = format.begin();
    end_ = format.end();
  }

  const Format& format() const { return *format_; }
  bool at_end() const { return next_ == end_; }
  // The next data item, or past the end the closing literal's item, whose edit has no code (and
  // which leaves the walk past_end()): the statements' in-line paths look at the edit anyway.
  const DataItem& take() { return *next_++; }
  bool past_end() const { return next_ > end_; }
  // Moves on by n items, which the format has.
  void skip(std::size_t n) { next_ += n; }
  // The literal text up to the next data item, or to the end of the format; only once started.
  std::string_view rest() const { return format_->prefix(*next_); }

 private:
  const Format* format_ = nullptr;
  const DataItem* next_ = nullptr;
  const DataItem* end_ = nullptr;
};

}  // namespace recordio
