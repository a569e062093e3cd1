// Format texts: parsing once into a flat program, and the walk over it that statements share.
//
// A format is parsed into a flat list of operations with every repeat count expanded, so the walk
// is a cursor that performs literals and stops at data items. The walk knows nothing of editing:
// a statement hands it a context that writes the literals (or skips them, on input) and ends a
// record when the format starts over.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace recordio {

// A data edit descriptor: Aw (or A), Ew.d, Fw.d.
struct DataEdit {
  char code;     // 'A', 'E' or 'F'
  int width;     // w; for A without a width, 0 (the item's length is the width)
  int decimals;  // d
};

struct FormatOp {
  bool literal;
  DataEdit edit;            // for data items
  std::size_t text_offset;  // for literals: where the text sits in the format's literal pool
  std::size_t text_length;
};

class Format {
 public:
  // Limits that keep a parsed format small: the operations after expanding repeat counts, and the
  // width of a numeric field (whose digits are kept whole, for exact conversion).
  static constexpr std::size_t kMaxOps = 1 << 16;
  static constexpr int kMaxNumericWidth = 256;

  // Parses a format text; nullopt when it is not a valid format.
  static std::optional<Format> parse(std::string_view text);
  // The parsed form of a constant format text, parsed on its first use only. A text that does not
  // parse is fatal ("fmt" / "error in format").
  static const Format& of(const char* text);

  std::size_t size() const { return ops_.size(); }
  const FormatOp& op(std::size_t i) const { return ops_[i]; }
  std::string_view literal(const FormatOp& op) const {
    return std::string_view(literals_).substr(op.text_offset, op.text_length);
  }
  const FormatOp* begin() const { return ops_.data(); }
  const FormatOp* end() const { return ops_.data() + ops_.size(); }
  const char* literal_bytes() const { return literals_.data(); }
  bool has_data() const { return has_data_; }
  // Where the walk starts over when items remain at the end of the format: the last group at
  // the outermost level, or the beginning.
  std::size_t reversion_point() const { return reversion_; }

 private:
  friend class FormatParser;
  std::vector<FormatOp> ops_;
  std::string literals_;
  std::size_t reversion_ = 0;
  bool has_data_ = false;
};

// The walk of one statement over its format.
//
// Context: void literal(std::string_view text); void end_record();
class FormatWalk {
 public:
  void start(const Format& format) {
    format_ = &format;
    next_ = format.begin();
    end_ = format.end();
    literals_ = format.literal_bytes();
  }

  // Performs the literals up to the next data item and returns it. At the end of the format the
  // record is ended and the walk starts over at the reversion point; nullptr when the format has
  // no data item at all.
  template <class Context>
  const DataEdit* next(Context& context) {
    for (;;) {
      if (next_ == end_) {
        if (!format_->has_data()) return nullptr;
        context.end_record();
        next_ = format_->begin() + format_->reversion_point();
        continue;
      }
      const FormatOp& op = *next_++;
      if (!op.literal) return &op.edit;
      context.literal(literal(op));
    }
  }

  // Performs the literals up to the next data item or the end of the format.
  template <class Context>
  void finish(Context& context) {
    while (next_ != end_ && next_->literal) context.literal(literal(*next_++));
  }

 private:
  std::string_view literal(const FormatOp& op) const {
    return {literals_ + op.text_offset, op.text_length};
  }

  const Format* format_ = nullptr;
  const FormatOp* next_ = nullptr;
  const FormatOp* end_ = nullptr;
  const char* literals_ = nullptr;
};

}  // namespace recordio
