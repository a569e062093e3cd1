#include "format.h"

#include <cstring>
#include <span>

namespace recordio {

// Recursive descent over a format text into a flat list of parts (data items and literals) with
// repeat counts expanded, then compiled into data items that carry the literals before them.
// Blanks between the parts of a format are insignificant; inside a literal they are kept.
class FormatParser {
 public:
  explicit FormatParser(std::string_view text) : text_(text) {}

  std::optional<Format> parse() {
    skip_blanks();
    if (!eat('(')) return std::nullopt;
    if (!list()) return std::nullopt;
    // Whatever follows the closing parenthesis is not part of the format.
    return compile();
  }

 private:
  struct Part {
    bool literal;
    DataEdit edit;            // for data items
    std::size_t text_offset;  // for literals: where the text sits in `texts_`
    std::size_t text_length;
  };

  std::optional<Format> compile() {
    Format format;
    std::size_t prefix_offset = 0;
    for (const Part& part : std::span(parts_, part_count_)) {
      if (part.literal) {
        if (format.literal_length_ + part.text_length > Format::kMaxLiteralBytes) {
          return std::nullopt;
        }
        std::memcpy(format.literals_ + format.literal_length_, texts_ + part.text_offset,
                    part.text_length);
        format.literal_length_ += part.text_length;
        continue;
      }
      const auto prefix_length = static_cast<std::uint32_t>(format.literal_length_ - prefix_offset);
      format.items_[format.item_count_++] = {part.edit, static_cast<std::uint32_t>(prefix_offset),
                                             prefix_length};
      prefix_offset = format.literal_length_;
    }
    format.items_[format.item_count_] = {
        {},
        static_cast<std::uint32_t>(prefix_offset),
        static_cast<std::uint32_t>(format.literal_length_ - prefix_offset)};
    return format;
  }

  static constexpr char kStx = '\x02';  // STX: a literal delimiter, like the apostrophe

  // A parenthesised list after its "(", through its ")".
  bool list() {
    skip_blanks();
    if (eat(')')) return true;  // an empty list
    for (;;) {
      if (!item()) return false;
      skip_blanks();
      if (eat(')')) return true;
      if (!eat(',')) return false;
    }
  }

  bool item() {
    skip_blanks();
    if (at_ == text_.size()) return false;
    const char c = text_[at_];
    if (c == '\'' || c == '"' || c == kStx) return literal(c);
    const std::optional<int> count = number();
    if (count && *count == 0) return false;
    const int repeat = count.value_or(1);
    skip_blanks();
    if (at_ == text_.size()) return false;
    const char code = upper(text_[at_++]);
    if (code == '(') return group(repeat);
    DataEdit edit{code, 0, 0};
    if (code == 'A') {
      if (const std::optional<int> w = number()) {
        if (*w == 0) return false;
        edit.width = *w;
      }
    } else if (code == 'E' || code == 'F') {
      const std::optional<int> w = number();
      if (!w || *w == 0 || *w > Format::kMaxNumericWidth) return false;
      skip_blanks();
      if (!eat('.')) return false;
      const std::optional<int> d = number();
      if (!d) return false;
      edit.width = *w;
      edit.decimals = *d;
    } else {
      return false;
    }
    for (int i = 0; i < repeat; ++i) {
      if (!push({false, edit, 0, 0})) return false;
    }
    return true;
  }

  bool group(int repeat) {
    const std::size_t first = part_count_;
    if (!list()) return false;
    const std::size_t last = part_count_;
    for (int i = 1; i < repeat; ++i) {
      for (std::size_t k = first; k < last; ++k) {
        if (!push(parts_[k])) return false;
      }
    }
    return true;
  }

  bool literal(char delimiter) {
    ++at_;
    const std::size_t offset = text_length_;
    for (;;) {
      if (at_ == text_.size()) return false;
      const char c = text_[at_++];
      if (c == delimiter) {
        if (at_ < text_.size() && text_[at_] == delimiter) {
          ++at_;  // a doubled delimiter stands for one
        } else {
          break;
        }
      }
      if (text_length_ == Format::kMaxLiteralBytes) return false;
      texts_[text_length_++] = c;
    }
    return push({true, {}, offset, text_length_ - offset});
  }

  std::optional<int> number() {
    skip_blanks();
    if (at_ == text_.size() || !is_digit(text_[at_])) return std::nullopt;
    long value = 0;
    while (at_ < text_.size() && (is_digit(text_[at_]) || text_[at_] == ' ')) {
      if (text_[at_] != ' ') {
        value = value * 10 + (text_[at_] - '0');
        if (value > 1'000'000) return std::nullopt;  // no sensible count or width is this large
      }
      ++at_;
    }
    return static_cast<int>(value);
  }

  bool push(const Part& part) {
    if (part_count_ == Format::kMaxParts) return false;
    parts_[part_count_++] = part;
    return true;
  }

  void skip_blanks() {
    while (at_ < text_.size() && text_[at_] == ' ') ++at_;
  }
  bool eat(char c) {
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

  std::string_view text_;
  std::size_t at_ = 0;
  Part parts_[Format::kMaxParts];
  std::size_t part_count_ = 0;
  char texts_[Format::kMaxLiteralBytes];  // the text of each literal once
  std::size_t text_length_ = 0;
};

std::optional<Format> Format::parse(std::string_view text) {
  return FormatParser(text).parse();
}

const Format* FormatCache::of(const char* text) {
  if (text == nullptr) return nullptr;
  Compiled* found = nullptr;
  for (Compiled& c : std::span(compiled_, count_)) {
    if (c.text == text) found = &c;
  }
  if (found == nullptr) {
    std::optional<Format> format = Format::parse(text);
    if (!format) return nullptr;
    found = &compiled_[count_ < kRoom ? count_++ : kRoom - 1];
    *found = {text, *format};
  }
  return &found->format;
}

}  // namespace recordio
