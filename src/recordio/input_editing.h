// Input editing: the characters of a record into values.
//
// The editors read from a Source, anything with
//   int peek();   // the next character, kLineEnd at the line end (never consumed), kEndOfFile
//   void take();  // consumes the ordinary character peek() delivered
// so they run over a unit's record as well as over a plain string in tests. They report what
// went wrong and leave the reporting to the statement.
#pragma once

#include <array>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decimal_conversion.h"
#include "format.h"
#include "unit_table.h"

namespace recordio {

enum class EditStatus { kOk, kEndOfFile, kUnexpected };

// Aw into a text item of n bytes. With w >= n, w - n characters are skipped and the next n
// stored; a line-end mark is stored as a blank. With w < n, w characters are stored and the rest
// of the item is blank-filled.
template <class Source>
EditStatus read_characters(Source& in, char* item, std::size_t n, std::size_t w) {
  const std::size_t skip = w > n ? w - n : 0;
  const std::size_t store = w < n ? w : n;
  for (std::size_t i = 0; i < skip; ++i) {
    const int c = in.peek();
    if (c == kEndOfFile) return EditStatus::kEndOfFile;
    if (c == kLineEnd) break;
    in.take();
  }
  std::size_t i = 0;
  for (; i < store; ++i) {
    const int c = in.peek();
    if (c == kEndOfFile) return EditStatus::kEndOfFile;
    if (c == kLineEnd) break;
    item[i] = static_cast<char>(c);
    in.take();
  }
  for (; i < n; ++i) item[i] = ' ';
  return EditStatus::kOk;
}

// A Source whose upcoming bytes sit in memory can hand them out whole.
template <class Source>
concept BufferedSource = requires(Source& s, std::size_t n) {
  { s.buffered() } -> std::convertible_to<std::string_view>;
  s.skip(n);
};

// Reads bytes known to be in memory, with at least one byte beyond any it delivers, so that a
// CR can be told from a CR LF without asking for more.
struct MemoryCursor {
  const char* at;
  int peek() const {
    const auto c = static_cast<unsigned char>(*at);
    if (c == '\n' || (c == '\r' && at[1] == '\n')) return kLineEnd;
    return c;
  }
  void take() { ++at; }
};

// Scans an Ew.d or Fw.d field character by character, blanks in the field ignored, into the
// number it writes. `digits` receives the significant digits (room for
// Format::kMaxNumericWidth). Kept out of line: the common field takes the one-pass path, and the
// statements stay lean around it.
template <class Source>
[[gnu::noinline]] EditStatus scan_number(Source& in, int w, int d, char* digits,
                                         DecimalNumber& number) {
  int count = 0;
  std::uint64_t mantissa = 0;  // the first 19 digits as a number
  long correction = -d;
  bool negative = false;
  int left = w;  // columns not yet used
  int c = 0;

  // Takes the character in hand and looks at the next one; false when the columns ran out.
  auto advance = [&]() {
    in.take();
    if (--left == 0) return false;
    c = in.peek();
    return true;
  };
  const auto append = [&](int digit) {
    digits[count] = static_cast<char>(digit);
    if (count < 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(digit - '0');
    ++count;
  };
  // A field without significant digits: zero, whatever its sign.
  const auto zero = [&]() {
    number = DecimalNumber{};
    return EditStatus::kOk;
  };

  if (left == 0) return zero();
  c = in.peek();
  while (c == ' ') {
    if (!advance()) return zero();
  }
  if (c == '-' || c == '+') {
    negative = c == '-';
    if (!advance()) return zero();
  }
  while (c == ' ' || c == '0') {
    if (!advance()) return zero();
  }
  bool complete = false;
  while (c == ' ' || (c >= '0' && c <= '9')) {
    if (c != ' ') append(c);
    if (!advance()) {
      complete = true;
      break;
    }
  }
  if (!complete && c == '.') {
    correction += d;
    complete = !advance();
    while (!complete && (c == ' ' || (c >= '0' && c <= '9'))) {
      if (c != ' ') {
        if (count != 0 || c != '0') append(c);
        --correction;
      }
      complete = !advance();
    }
  }
  if (!complete && (c == 'E' || c == 'e' || c == 'D' || c == 'd' || c == '+' || c == '-')) {
    bool exponent_negative = false;
    if (c == '+' || c == '-') {
      exponent_negative = c == '-';
      if (!advance()) return EditStatus::kUnexpected;
    } else {
      if (!advance()) return EditStatus::kUnexpected;
      while (c == ' ') {
        if (!advance()) return EditStatus::kUnexpected;
      }
      if (c == '+' || c == '-') {
        exponent_negative = c == '-';
        if (!advance()) return EditStatus::kUnexpected;
      }
    }
    if (c < '0' || c > '9')
      return c == kEndOfFile ? EditStatus::kEndOfFile : EditStatus::kUnexpected;
    long exponent = 0;
    while (c == ' ' || (c >= '0' && c <= '9')) {
      if (c != ' ' && exponent <= 99'999'999) exponent = exponent * 10 + (c - '0');
      if (!advance()) {
        complete = true;
        break;
      }
    }
    if (exponent > 99'999'999 && count != 0) return EditStatus::kUnexpected;
    correction += exponent_negative ? -exponent : exponent;
  }
  if (!complete) {
    // The scan stopped early: only the line end or a comma may stop it.
    if (c == kEndOfFile) return EditStatus::kEndOfFile;
    if (c == ',') {
      in.take();
    } else if (c != kLineEnd) {
      return EditStatus::kUnexpected;
    }
  }
  if (count == 0) return zero();
  number.mantissa = mantissa;
  number.power = correction;
  number.digits = digits;
  number.digit_count = count;
  number.negative = negative;
  number.too_many_digits = count > 19;
  return EditStatus::kOk;
}

namespace plain {

inline constexpr std::uint64_t kEveryByte = 0x0101010101010101u;

// Eight bytes read as a word, the first byte lowest.
inline std::uint64_t load(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// How many of the word's bytes, from the first on, are blanks.
inline int leading_blanks(std::uint64_t word) {
  const std::uint64_t misfit = word ^ (kEveryByte * ' ');
  return misfit == 0 ? 8 : std::countr_zero(misfit) / 8;
}

// How many of the word's bytes, from the first on, are decimal digits. A digit is 0x30..0x39:
// its high nibble is 3, and still 3 after adding 6. (A carry out of a byte can only disturb the
// bytes after a non-digit.)
inline int leading_digits(std::uint64_t word) {
  constexpr std::uint64_t kHigh = kEveryByte * 0xF0;
  constexpr std::uint64_t kThree = kEveryByte * 0x30;
  const std::uint64_t misfit =
      ((word & kHigh) ^ kThree) | (((word + kEveryByte * 6) & kHigh) ^ kThree);
  return misfit == 0 ? 8 : std::countr_zero(misfit) / 8;
}

// The number that eight digit values make, one a byte, the first byte the leading digit: combined
// pairwise, then in fours, then all eight.
inline std::uint64_t eight_digit_value(std::uint64_t v) {
  v = v * 10 + (v >> 8);
  return ((v & 0x000000FF000000FFu) * (100 + (1000000ull << 32)) +
          ((v >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32))) >>
         32;
}

// The number written by the word's first n bytes (1 to 8 digits), moved to the top of the word.
inline std::uint64_t digits_value(std::uint64_t word, int n) {
  return eight_digit_value((word - kEveryByte * '0') << (8 * (8 - n)));
}

}  // namespace plain

// A field of 8 to 16 columns whose number sits in its last eight: blanks up to there, then in
// one word more blanks, an optional sign and 1 to 8 digits with at most one point. Reads the w
// bytes of the field only. Returns false, having stored nothing, for every other field.
inline bool parse_plain_tail(const char* field, int w, int d, DecimalNumber& number) {
  constexpr std::uint64_t kBlanks = plain::kEveryByte * ' ';
  const int head = w - 8;  // columns before the last eight: 0 to 8
  if (head > 0) {
    const std::uint64_t columns = ~std::uint64_t{0} >> (64 - 8 * head);
    if (((plain::load(field) ^ kBlanks) & columns) != 0) return false;
  }
  std::uint64_t word = plain::load(field + head);
  const std::uint64_t misfit = word ^ kBlanks;
  if (misfit == 0) return false;  // an all-blank field
  const int blanks = std::countr_zero(misfit) / 8;
  word >>= 8 * blanks;  // the rest of the field from its first byte on, zeros after it
  int count = 8 - blanks;
  const auto first = static_cast<unsigned char>(word);
  const bool negative = first == '-';
  if (negative || first == '+') {
    word >>= 8;
    if (--count == 0) return false;
  }
  // Takes the first point out; any other character, a second point included, is no digit.
  int power = -d;
  const std::uint64_t t = word ^ (plain::kEveryByte * '.');
  const std::uint64_t points = (t - plain::kEveryByte) & ~t & (plain::kEveryByte * 0x80);
  if (points != 0) {
    const int point = std::countr_zero(points) / 8;
    if (point < count) {
      const std::uint64_t before = (std::uint64_t{1} << (8 * point)) - 1;
      word = (word & before) | ((word >> 8) & ~before);
      if (--count == 0) return false;
      power = point - count;
    }
  }
  if (plain::leading_digits(word) < count) return false;
  number.mantissa = plain::digits_value(word, count);
  number.power = power;
  number.negative = negative;
  number.too_many_digits = false;
  return true;
}

// The common field, parsed in one pass: leading blanks, an optional sign, at most 19 digits with
// at most one point and nothing else up to column w. `available` bytes can be read from `field`
// (at least w); eight at a time where they reach. Returns false, having stored nothing, for
// every other field; the full scan reads those. Where it returns true, the number is the one the
// full scan makes of the field (up to leading and trailing zeros, which do not change its value).
inline bool parse_plain_field(const char* field, std::size_t available, int w, int d,
                              DecimalNumber& number) {
  if (w >= 8 && w <= 16 && parse_plain_tail(field, w, d, number)) return true;
  const auto reach = static_cast<int>(available < 1024 ? available : 1024);  // bytes readable
  int i = 0;
  while (i + 8 <= reach) {
    const int blanks = plain::leading_blanks(plain::load(field + i));
    i += blanks;
    if (blanks < 8) break;
  }
  while (i < w && i < reach && field[i] == ' ') ++i;
  if (i >= w) return false;
  const bool negative = field[i] == '-';
  if (negative || field[i] == '+') ++i;

  std::uint64_t mantissa = 0;
  int correction = -d;
  const int left = w - i;
  if (left >= 1 && left <= 8 && i + 8 <= reach) {
    // The rest of the field in one word: take its point out, then all of it must be digits.
    std::uint64_t word = plain::load(field + i);
    const std::uint64_t t = word ^ (plain::kEveryByte * '.');
    const std::uint64_t points = (t - plain::kEveryByte) & ~t & (plain::kEveryByte * 0x80);
    const int point = points == 0 ? 8 : std::countr_zero(points) / 8;
    int count = left;
    if (point < left) {
      const std::uint64_t before = point == 0 ? 0 : word & (~std::uint64_t{0} >> (64 - 8 * point));
      const std::uint64_t after = point == 7 ? 0 : (word >> (8 * (point + 1))) << (8 * point);
      word = before | after;
      count = left - 1;
      correction = -(count - point);
    }
    if (count == 0 || plain::leading_digits(word) < count) return false;
    mantissa = plain::digits_value(word, count);
  } else {
    int digit_count = 0;
    while (i < w && static_cast<unsigned>(field[i] - '0') < 10u) {
      mantissa = mantissa * 10 + static_cast<unsigned>(field[i] - '0');
      ++i;
      if (++digit_count > 19) return false;
    }
    if (i < w && field[i] == '.') {
      ++i;
      const int before = digit_count;
      while (i < w && static_cast<unsigned>(field[i] - '0') < 10u) {
        mantissa = mantissa * 10 + static_cast<unsigned>(field[i] - '0');
        ++i;
        if (++digit_count > 19) return false;
      }
      correction = before - digit_count;
    }
    if (i != w || digit_count == 0) return false;
  }
  number.mantissa = mantissa;
  number.power = correction;
  number.negative = negative;
  number.too_many_digits = false;
  return true;
}

// Ew.d or Fw.d into a single-precision item by the full scan, from memory where the field is
// there whole.
template <class Source>
[[gnu::noinline]] EditStatus read_real_scanned(Source& in, int w, int d, float& value) {
  DecimalNumber number;
  char digits[Format::kMaxNumericWidth];
  EditStatus status;
  if constexpr (BufferedSource<Source>) {
    const std::string_view bytes = in.buffered();
    if (bytes.size() > static_cast<std::size_t>(w)) {
      MemoryCursor cursor{bytes.data()};
      status = scan_number(cursor, w, d, digits, number);
      in.skip(static_cast<std::size_t>(cursor.at - bytes.data()));
    } else {
      status = scan_number(in, w, d, digits, number);
    }
  } else {
    status = scan_number(in, w, d, digits, number);
  }
  if (status == EditStatus::kOk) value = decimal_to_float(number);
  return status;
}

// Bytes a one-pass read of a data record's field looks at: the field and what follows it in
// memory.
inline constexpr std::size_t kCommonWindow = 16;
static_assert(kExactPowersOfTen.size() > kMaxExactScale);

#if defined(__SSE2__)
namespace ten_columns {

// Per position of the point (10: no point), the columns that take the value of the column
// before them: those up to the point, so that the digits close up over it.
inline constexpr std::array<std::array<unsigned char, 16>, 11> kUpToPoint = [] {
  std::array<std::array<unsigned char, 16>, 11> t{};
  for (int point = 0; point < 10; ++point) {
    for (int column = 0; column <= point; ++column) {
      t[static_cast<std::size_t>(point)][static_cast<std::size_t>(column)] = 0xFF;
    }
  }
  return t;
}();

inline __m128i bytes_of(const std::array<unsigned char, 16>& b) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data()));
}

}  // namespace ten_columns
#endif

// The shape nearly every field of a data record has: ten columns of leading blanks, an optional
// sign, then digits with at most one point ("  12.34567", "-123.45678", "   -2.2377",
// "       150"). Read in one pass: the columns are classified sixteen at a time; the point is
// taken out by moving the digits before it one column on; the ten digit columns, moved to the
// end of the sixteen, are combined in pairs, fours and eights into one integer, which goes to the
// fast tier of the one conversion. `field` must have kCommonWindow bytes readable, and d be at
// most kMaxExactScale. False, having stored nothing, for any other field (an exponent, a blank
// among the digits, a line end): the full scan reads those.
[[gnu::always_inline]] inline bool parse_ten_columns(const char* field, int d, float& value) {
#if defined(__SSE2__)
  constexpr unsigned kColumns = (1u << kCommonWidth) - 1;
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(field));
  const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
  const auto mask = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
  // Leading blanks. Ten to fifteen: a blank field, which reads as zero (the column looked at
  // for a sign is still within the window); sixteen is taken as none, and the field goes to the
  // full scan.
  const int blanks = std::countr_one(mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')))) & 15;
  const unsigned digits = mask(is_digit) & kColumns;
  const unsigned points = mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'))) & kColumns;
  const char first = field[blanks];
  const bool negative = first == '-';
  const int start = blanks + ((negative || first == '+') ? 1 : 0);
  const unsigned body = kColumns >> start << start;
  // After the blanks and the sign, digits and at most one point fill the field. No digit at
  // all reads as zero, as the full scan reads it.
  if ((((digits | points) ^ body) | (points & (points - 1))) != 0) return false;
  const int point = points == 0 ? kCommonWidth : std::countr_zero(points);
  const int scale = point == kCommonWidth ? d : kCommonWidth - 1 - point;

  // The digit values, nothing beyond the field; closed up over the point; in columns 7 to 16.
  __m128i v =
      _mm_and_si128(values, _mm_and_si128(is_digit, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1,
                                                                  -1, -1, 0, 0, 0, 0, 0, 0)));
  const __m128i up_to_point =
      ten_columns::bytes_of(ten_columns::kUpToPoint[static_cast<std::size_t>(point)]);
  v = _mm_xor_si128(v, _mm_and_si128(up_to_point, _mm_xor_si128(v, _mm_slli_si128(v, 1))));
  v = _mm_slli_si128(v, 6);
  // Pairs (10 a + b), fours (100 p + q), eights (10^4 f + g).
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  v = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(v, low_bytes), _mm_set1_epi16(10)),
                    _mm_srli_epi16(v, 8));
  v = _mm_madd_epi16(v, _mm_set1_epi32(100 + (1 << 16)));
  v = _mm_madd_epi16(_mm_packs_epi32(v, v), _mm_set1_epi32(10000 + (1 << 16)));
  const auto eights = static_cast<std::uint64_t>(_mm_cvtsi128_si64(v));
  const auto mantissa =
      static_cast<std::int64_t>((eights & 0xFFFFFFFF) * 100000000 + (eights >> 32));

  // The sign goes on the digits by arithmetic rather than a branch: the fields' signs follow no
  // pattern a branch predictor could learn.
  const std::int64_t flip = -static_cast<std::int64_t>(negative);
  value = divided_exactly(static_cast<double>((mantissa ^ flip) - flip),
                          static_cast<std::size_t>(scale));
  return true;
#else
  (void)field, (void)d, (void)value;
  return false;  // the general readers serve every field
#endif
}

// A data record's leading fields, read together: eight common fields, eighty columns.
inline constexpr std::size_t kRecordColumns = kRecordFields * kCommonWidth;

#if defined(__SSE2__)
namespace record_fields {

inline constexpr int kVectors = kRecordColumns / 16;
static_assert(kRecordColumns % 16 == 0 && kCommonWidth % 2 == 0);

// Per sixteen columns of the record, those that begin a field.
inline constexpr std::array<std::array<unsigned char, 16>, kVectors> kFieldStarts = [] {
  std::array<std::array<unsigned char, 16>, kVectors> t{};
  for (std::size_t c = 0; c < kRecordColumns; ++c) {
    t[c / 16][c % 16] = c % kCommonWidth == 0 ? 0xFF : 0;
  }
  return t;
}();

// Per sign (0: none or plus, 1: minus) and position of the point (10: no point), the factor of
// each of a field's five column pairs: 10 for a pair at or after the point, 1 before it, negated
// for a minus sign. With these factors the pairs make ten times the field's digits closed up
// over the point (the point's own column holds no digit), with the field's sign; an integer zero
// has none.
inline constexpr std::array<std::array<std::int16_t, 8>, 2 * 11> kPairFactors = [] {
  std::array<std::array<std::int16_t, 8>, 2 * 11> t{};
  for (int minus = 0; minus < 2; ++minus) {
    for (int point = 0; point <= kCommonWidth; ++point) {
      for (int pair = 0; pair < 8; ++pair) {
        const int factor = point < kCommonWidth && 2 * pair >= point ? 10 : 1;
        t[static_cast<std::size_t>(11 * minus + point)][static_cast<std::size_t>(pair)] =
            static_cast<std::int16_t>(minus ? -factor : factor);
      }
    }
  }
  return t;
}();

inline __m128i bytes_of_starts(int k) {
  return _mm_loadu_si128(
      reinterpret_cast<const __m128i*>(kFieldStarts[static_cast<std::size_t>(k)].data()));
}

inline __m128i words_of(const std::array<std::int16_t, 8>& w) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.data()));
}

// Bits 10f to 10f + 9 of a mask kept sixteen bits to a word (with a word to spare at the end).
inline unsigned field_bits(const std::uint16_t* mask, int f) {
  const int bit = f * kCommonWidth;
  std::uint32_t word;
  std::memcpy(&word, mask + bit / 16, sizeof word);
  return (word >> (bit % 16)) & ((1u << kCommonWidth) - 1);
}

// Records written with a fixed number of decimals have every field's point in one column. For
// each column, the record's points as the 80-bit mask the classification makes: the low 64 bits,
// then the rest.
struct PointColumns {
  std::uint64_t low;
  std::uint16_t high;
};
inline constexpr std::array<PointColumns, kCommonWidth> kAlignedPoints = [] {
  std::array<PointColumns, kCommonWidth> t{};
  for (int point = 0; point < kCommonWidth; ++point) {
    for (int f = 0; f < kRecordFields; ++f) {
      const int bit = f * kCommonWidth + point;
      if (bit < 64) {
        t[static_cast<std::size_t>(point)].low |= std::uint64_t{1} << bit;
      } else {
        t[static_cast<std::size_t>(point)].high |= static_cast<std::uint16_t>(1u << (bit - 64));
      }
    }
  }
  return t;
}();

// Ten times a field's digits closed up over its point (the digits themselves when it has none),
// with its sign, in three parts: pairs 0-1, 2-3 and 4, weighed by the factors of its point and
// sign (kPairFactors).
inline __m128i field_parts(const std::int16_t* pairs, int f, __m128i factors) {
  return _mm_madd_epi16(
      _mm_mullo_epi16(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + f * (kCommonWidth / 2))),
          factors),
      _mm_setr_epi16(100, 1, 100, 1, 1, 0, 0, 0));
}

// Two fields' parts, each (p01, p23, p4, 0), as the two numbers p01 10^6 + p23 100 + p4, in
// double precision: every part, product and sum is an integer below 2^53 and so exact.
inline __m128d two_numbers(__m128i first, __m128i second) {
  const __m128i p01_p23 = _mm_unpacklo_epi32(first, second);
  const __m128d p01 = _mm_cvtepi32_pd(p01_p23);
  const __m128d p23 = _mm_cvtepi32_pd(_mm_unpackhi_epi64(p01_p23, p01_p23));
  const __m128d p4 = _mm_cvtepi32_pd(_mm_unpackhi_epi32(first, second));
  return _mm_add_pd(
      _mm_add_pd(_mm_mul_pd(p01, _mm_set1_pd(1'000'000)), _mm_mul_pd(p23, _mm_set1_pd(100))), p4);
}

// Fields 2g and 2g + 1 of a record whose points all stand in one column, whose factors and
// 10^scale these are: their numbers with their signs, converted by the fast tier, as two
// single-precision values.
inline __m128 aligned_pair(const std::int16_t* pairs, const unsigned char* minus, int g,
                           __m128i factors, std::size_t scale) {
  const __m128d numbers =
      two_numbers(field_parts(pairs, 2 * g, factors), field_parts(pairs, 2 * g + 1, factors));
  // A field's minus lies before its point, so within its first eight columns, or in its ninth
  // before a point in its tenth, where it signs a zero and counts for nothing. The first eight
  // columns' byte sum is 255 with a minus and 0 without; its bit 0, moved to bit 63, is the
  // double's sign.
  const auto* at = minus + 2 * g * kCommonWidth;
  const __m128i columns = _mm_castpd_si128(
      _mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at))),
                   reinterpret_cast<const double*>(at + kCommonWidth)));
  const __m128i sign = _mm_slli_epi64(_mm_sad_epu8(columns, _mm_setzero_si128()), 63);
  return divided_exactly(_mm_xor_pd(numbers, _mm_castsi128_pd(sign)), scale);
}

}  // namespace record_fields
#endif

// Reads the eight common fields that begin a data record, as eight ten-column reads would read
// them (parse_ten_columns), with the work shared by the record. The eighty columns are
// classified sixteen at a time: each blank or sign must begin its field or follow a blank, and
// every column be a blank, a sign, a digit or a point. Digit pairs are formed once for the
// record; each field then takes its five pairs, multiplies those at or after its point by ten
// (which closes the digits up over the point), weighs them into one integer and hands it to the
// fast tier of the one conversion. When every field has its point in the same column, as in
// records written with a fixed number of decimals, the fields share their factors and power of
// ten and go through that tier two at a time. `record` must have kRecordColumns bytes readable, and
// each item be ten_columns. False when any field has another shape (the values are then
// meaningless): each field is then read on its own.
[[gnu::always_inline]] inline bool parse_record_fields(const char* record, const DataItem* items,
                                                       float* values) {
#if defined(__SSE2__)
  using namespace record_fields;
  // A field's load reaches three words beyond its five pairs; past the last field, zeros.
  alignas(16) std::int16_t pairs[kVectors * 8 + 8];
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs + kVectors * 8), _mm_setzero_si128());
  std::uint16_t points[kVectors + 1] = {};
  alignas(16) unsigned char minus_columns[kRecordColumns];
  const __m128i blank = _mm_set1_epi8(' ');
  __m128i fits = _mm_set1_epi8(-1);
  // One multiplication an instruction: kept opaque, the constant is not turned into shifts.
  __m128i pair_weight = _mm_set1_epi16(2561);
  __asm__("" : "+x"(pair_weight));
  for (int k = 0; k < kVectors; ++k) {
    const char* const at = record + 16 * k;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
    // Pairs of columns, the first the tens: a word a + 256 b times 2561 is 256 (10 a + b) + a
    // (below 2^16 for digits), so its high byte is 10 a + b.
    const __m128i pair =
        _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(values, is_digit), pair_weight), 8);
    _mm_store_si128(reinterpret_cast<__m128i*>(pairs + 8 * k), pair);
    const __m128i is_blank = _mm_cmpeq_epi8(bytes, blank);
    const __m128i is_point = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'));
    const __m128i is_minus = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('-'));
    const __m128i is_sign = _mm_or_si128(is_minus, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')));
    // A blank or a sign begins its field or follows a blank (before the record's first column,
    // none is); every other column is a digit or a point.
    const __m128i after_blank =
        k == 0 ? _mm_slli_si128(is_blank, 1)
               : _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 1)), blank);
    const __m128i may_lead = _mm_or_si128(after_blank, bytes_of_starts(k));
    fits =
        _mm_and_si128(fits, _mm_or_si128(_mm_or_si128(is_digit, is_point),
                                         _mm_and_si128(_mm_or_si128(is_blank, is_sign), may_lead)));
    points[k] = static_cast<std::uint16_t>(_mm_movemask_epi8(is_point));
    _mm_store_si128(reinterpret_cast<__m128i*>(minus_columns + 16 * k), is_minus);
  }
  if (_mm_movemask_epi8(fits) != 0xFFFF) return false;

  std::uint64_t low_points;
  std::memcpy(&low_points, points, sizeof low_points);
  const int aligned = std::countr_zero(low_points);
  if (aligned < kCommonWidth &&
      low_points == kAlignedPoints[static_cast<std::size_t>(aligned)].low &&
      points[kVectors - 1] == kAlignedPoints[static_cast<std::size_t>(aligned)].high) {
    // Every field has its one point in the same column: one set of factors and one power of
    // ten, and the fields converted two at a time.
    const __m128i factors = words_of(kPairFactors[static_cast<std::size_t>(aligned)]);
    const auto scale = static_cast<std::size_t>(kCommonWidth - aligned);
#pragma GCC unroll 2
    for (int h = 0; h < kRecordFields / 4; ++h) {
      const __m128 four =
          _mm_movelh_ps(aligned_pair(pairs, minus_columns, 2 * h, factors, scale),
                        aligned_pair(pairs, minus_columns, 2 * h + 1, factors, scale));
      // A minus on a zero made -0; adding +0 makes it +0 and leaves every other value as it is.
      _mm_storeu_ps(values + 4 * h, _mm_add_ps(four, _mm_setzero_ps()));
    }
    return true;
  }

  std::uint16_t minus[kVectors + 1] = {};
  for (int k = 0; k < kVectors; ++k) {
    minus[k] = static_cast<std::uint16_t>(_mm_movemask_epi8(
        _mm_load_si128(reinterpret_cast<const __m128i*>(minus_columns + 16 * k))));
  }

  const __m128d place = _mm_setr_pd(1'000'000, 100);
  unsigned extra_points = 0;
#pragma GCC unroll 8
  for (int f = 0; f < kRecordFields; ++f) {
    const unsigned point_bits = field_bits(points, f);
    extra_points |= point_bits & (point_bits - 1);
    const int point = std::countr_zero(point_bits | (1u << kCommonWidth));
    const int scale = point == kCommonWidth ? items[f].edit.decimals : kCommonWidth - point;
    const std::size_t factors =
        (field_bits(minus, f) != 0 ? 11 : 0) + static_cast<std::size_t>(point);
    // Weighed in double precision, where every part, product and sum is an integer below 2^53
    // and so exact.
    const __m128i parts = field_parts(pairs, f, words_of(kPairFactors[factors]));
    const __m128d high = _mm_mul_pd(_mm_cvtepi32_pd(parts), place);
    const __m128d low = _mm_add_pd(high, _mm_cvtepi32_pd(_mm_unpackhi_epi64(parts, parts)));
    const double number = _mm_cvtsd_f64(_mm_add_sd(low, _mm_unpackhi_pd(low, low)));
    values[f] = divided_exactly(number, static_cast<std::size_t>(scale));
  }
  return extra_points == 0;
#else
  (void)record, (void)items, (void)values;
  return false;  // each field is read on its own
#endif
}

[[gnu::always_inline]] inline bool read_common_field(Unit& unit, int d, float& value) {
  const std::string_view bytes = unit.buffered();
  if (bytes.size() < kCommonWindow || !parse_ten_columns(bytes.data(), d, value)) return false;
  unit.skip(kCommonWidth);
  return true;
}

// Ew.d or Fw.d into a single-precision item. When the whole field is already in memory, the
// common field is parsed in one pass and any other scanned directly, with no refill checks;
// either way the number goes through the one conversion.
template <class Source>
EditStatus read_real(Source& in, int w, int d, float& value) {
  if constexpr (BufferedSource<Source>) {
    const std::string_view bytes = in.buffered();
    DecimalNumber number;
    if (bytes.size() >= static_cast<std::size_t>(w) &&
        parse_plain_field(bytes.data(), bytes.size(), w, d, number)) {
      in.skip(static_cast<std::size_t>(w));
      value = decimal_to_float(number);
      return EditStatus::kOk;
    }
  }
  return read_real_scanned(in, w, d, value);
}

}  // namespace recordio
