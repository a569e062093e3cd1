#include "record_reader.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "simd.h"
#include "unit_table.h"

namespace recordio {

// A record's columns are loaded in whole vectors from a unit's buffer, past its valid bytes.
static_assert(Unit::kSlack >= kRecordColumns);

bool begins_with_record_fields(const Format& format) {
  // Without its vector path the reader reads nothing, and the full scan reads every field.
  if (!RECORDIO_SIMD || format.end() - format.begin() < kRecordFields) return false;
  for (const DataItem& item : std::span(format.begin(), kRecordFields)) {
    const DataEdit& e = item.edit;
    if ((e.code != 'E' && e.code != 'F') || e.width != kFieldWidth ||
        static_cast<std::size_t>(e.decimals) > kMaxExactScale) {
      return false;
    }
  }
  return true;
}

#if RECORDIO_SIMD
namespace {

constexpr int kVectors = kRecordColumns / 16;
static_assert(kRecordColumns % 16 == 0 && kFieldWidth % 2 == 0);

// Per sixteen columns of the record, those that begin a field.
constexpr std::array<std::array<unsigned char, 16>, kVectors> kFieldStarts = [] {
  std::array<std::array<unsigned char, 16>, kVectors> t{};
  for (std::size_t c = 0; c < kRecordColumns; ++c) {
    t[c / 16][c % 16] = c % kFieldWidth == 0 ? 0xFF : 0;
  }
  return t;
}();

// Per sign (0: none or plus, 1: minus) and position of the point (10: no point), the factor of
// each of a field's five column pairs: 10 for a pair at or after the point, 1 before it, negated
// for a minus sign. With these factors the pairs make ten times the field's digits closed up
// over the point (the point's own column holds no digit), with the field's sign; an integer zero
// has none.
constexpr std::array<std::array<std::int16_t, 8>, 2 * 11> kPairFactors = [] {
  std::array<std::array<std::int16_t, 8>, 2 * 11> t{};
  for (int minus = 0; minus < 2; ++minus) {
    for (int point = 0; point <= kFieldWidth; ++point) {
      for (int pair = 0; pair < 8; ++pair) {
        const int factor = point < kFieldWidth && 2 * pair >= point ? 10 : 1;
        t[static_cast<std::size_t>(11 * minus + point)][static_cast<std::size_t>(pair)] =
            static_cast<std::int16_t>(minus ? -factor : factor);
      }
    }
  }
  return t;
}();

__m128i bytes_of_starts(int k) {
  return _mm_loadu_si128(
      reinterpret_cast<const __m128i*>(kFieldStarts[static_cast<std::size_t>(k)].data()));
}

__m128i words_of(const std::array<std::int16_t, 8>& w) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(w.data()));
}

// Bits 10f to 10f + 9 of a mask kept sixteen bits to a word (with a word to spare at the end).
unsigned field_bits(const std::uint16_t* mask, int f) {
  const int bit = f * kFieldWidth;
  std::uint32_t word;
  std::memcpy(&word, mask + bit / 16, sizeof word);
  return (word >> (bit % 16)) & ((1u << kFieldWidth) - 1);
}

// Records written with a fixed number of decimals have every field's point in one column. For
// each column, the record's points as the 80-bit mask the classification makes: the low 64 bits,
// then the rest.
struct PointColumns {
  std::uint64_t low;
  std::uint16_t high;
};
constexpr std::array<PointColumns, kFieldWidth> kAlignedPoints = [] {
  std::array<PointColumns, kFieldWidth> t{};
  for (int point = 0; point < kFieldWidth; ++point) {
    for (int f = 0; f < kRecordFields; ++f) {
      const int bit = f * kFieldWidth + point;
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
__m128i field_parts(const std::int16_t* pairs, int f, __m128i factors) {
  return _mm_madd_epi16(
      _mm_mullo_epi16(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + f * (kFieldWidth / 2))),
          factors),
      _mm_setr_epi16(100, 1, 100, 1, 1, 0, 0, 0));
}

// Two fields' parts, each (p01, p23, p4, 0), as the two numbers p01 10^6 + p23 100 + p4, in
// double precision: every part, product and sum is an integer below 2^53 and so exact.
__m128d two_numbers(__m128i first, __m128i second) {
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
__m128 aligned_pair(const std::int16_t* pairs, const unsigned char* minus, int g, __m128i factors,
                    std::size_t scale) {
  const __m128d numbers =
      two_numbers(field_parts(pairs, 2 * g, factors), field_parts(pairs, 2 * g + 1, factors));
  // A common field's minus lies before its point, so within its first eight columns, or in its
  // ninth before a point in its tenth, where it signs a zero and counts for nothing. The first
  // eight columns' byte sum is 255 with a minus and 0 without; its bit 0, moved to bit 63, is the
  // double's sign.
  const auto* at = minus + 2 * g * kFieldWidth;
  const __m128i columns = _mm_castpd_si128(
      _mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(at))),
                   reinterpret_cast<const double*>(at + kFieldWidth)));
  const __m128i sign = _mm_slli_epi64(_mm_sad_epu8(columns, _mm_setzero_si128()), 63);
  return divided_exactly(_mm_xor_pd(numbers, _mm_castsi128_pd(sign)), scale);
}

// The columns of sixteen that keep to the common shape: a blank or a sign begins its field or
// follows a blank (before the record's first column, none is); every other column is a digit or
// a point.
__m128i shape_fits(const char* at, int k, __m128i bytes, __m128i is_digit, __m128i is_point) {
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i is_blank = _mm_cmpeq_epi8(bytes, blank);
  const __m128i is_sign = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')),
                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')));
  const __m128i after_blank =
      k == 0 ? _mm_slli_si128(is_blank, 1)
             : _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 1)), blank);
  const __m128i may_lead = _mm_or_si128(after_blank, bytes_of_starts(k));
  return _mm_or_si128(_mm_or_si128(is_digit, is_point),
                      _mm_and_si128(_mm_or_si128(is_blank, is_sign), may_lead));
}

__m128i digit_columns(__m128i bytes) {
  const __m128i values = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  return _mm_cmpeq_epi8(_mm_min_epu8(values, _mm_set1_epi8(9)), values);
}

// The fields of a record whose columns do not all fit the common shape, or that is not there
// whole: those of the common shape that lie before the line end and within the bytes available.
[[gnu::noinline]] unsigned fields_of_the_shape(const char* record, std::size_t available) {
  std::uint16_t misfits[kVectors + 1] = {};
  // The record's columns end at its first line end (a CR before the LF is no common field's
  // column either), or where the bytes of the file end.
  std::size_t columns = available < kRecordColumns ? available : kRecordColumns;
  for (int k = kVectors - 1; k >= 0; --k) {
    const char* const at = record + 16 * k;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i fits =
        shape_fits(at, k, bytes, digit_columns(bytes), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('.')));
    misfits[k] = static_cast<std::uint16_t>(~_mm_movemask_epi8(fits));
    const auto line_ends =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))));
    if (line_ends != 0) {
      const auto at_line_end = static_cast<std::size_t>(16 * k + std::countr_zero(line_ends));
      if (at_line_end < columns) columns = at_line_end;
    }
  }
  unsigned read = 0;
  for (int f = 0; (f + 1) * kFieldWidth <= static_cast<int>(columns); ++f) {
    if (field_bits(misfits, f) == 0) read |= 1u << f;
  }
  return read;
}

}  // namespace

unsigned read_record(const char* record, std::size_t available, const DataItem* items,
                     float* values) {
  // A field's load reaches three words beyond its five pairs; past the last field, zeros.
  alignas(16) std::int16_t pairs[kVectors * 8 + 8];
  _mm_store_si128(reinterpret_cast<__m128i*>(pairs + kVectors * 8), _mm_setzero_si128());
  std::uint16_t points[kVectors + 1] = {};
  alignas(16) unsigned char minus_columns[kRecordColumns];
  __m128i fits = _mm_set1_epi8(-1);
  // One multiplication an instruction: kept opaque, the constant is not turned into shifts.
  __m128i pair_weight = _mm_set1_epi16(2561);
  __asm__("" : "+x"(pair_weight));
  for (int k = 0; k < kVectors; ++k) {
    const char* const at = record + 16 * k;
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i values_of_digits = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
    const __m128i is_digit = digit_columns(bytes);
    // Pairs of columns, the first the tens: a word a + 256 b times 2561 is 256 (10 a + b) + a
    // (below 2^16 for digits), so its high byte is 10 a + b.
    const __m128i pair =
        _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(values_of_digits, is_digit), pair_weight), 8);
    _mm_store_si128(reinterpret_cast<__m128i*>(pairs + 8 * k), pair);
    const __m128i is_point = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('.'));
    fits = _mm_and_si128(fits, shape_fits(at, k, bytes, is_digit, is_point));
    points[k] = static_cast<std::uint16_t>(_mm_movemask_epi8(is_point));
    _mm_store_si128(reinterpret_cast<__m128i*>(minus_columns + 16 * k),
                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('-')));
  }
  // Every column fits, so no line end lies among them: with the eighty columns in the file, every
  // field is read.
  unsigned read = kAllFields;
  if (_mm_movemask_epi8(fits) != 0xFFFF || available < kRecordColumns) [[unlikely]]
    read = fields_of_the_shape(record, available);

  std::uint64_t low_points;
  std::memcpy(&low_points, points, sizeof low_points);
  const int aligned = std::countr_zero(low_points);
  if (aligned < kFieldWidth &&
      low_points == kAlignedPoints[static_cast<std::size_t>(aligned)].low &&
      points[kVectors - 1] == kAlignedPoints[static_cast<std::size_t>(aligned)].high) {
    // Every field has its one point in the same column: one set of factors and one power of
    // ten, and the fields converted two at a time.
    const __m128i factors = words_of(kPairFactors[static_cast<std::size_t>(aligned)]);
    const auto scale = static_cast<std::size_t>(kFieldWidth - aligned);
#pragma GCC unroll 2
    for (int h = 0; h < kRecordFields / 4; ++h) {
      const __m128 four =
          _mm_movelh_ps(aligned_pair(pairs, minus_columns, 2 * h, factors, scale),
                        aligned_pair(pairs, minus_columns, 2 * h + 1, factors, scale));
      // A minus on a zero made -0; adding +0 makes it +0 and leaves every other value as it is.
      _mm_storeu_ps(values + 4 * h, _mm_add_ps(four, _mm_setzero_ps()));
    }
    return read;
  }

  std::uint16_t minus[kVectors + 1] = {};
  for (int k = 0; k < kVectors; ++k) {
    minus[k] = static_cast<std::uint16_t>(_mm_movemask_epi8(
        _mm_load_si128(reinterpret_cast<const __m128i*>(minus_columns + 16 * k))));
  }

  const __m128d place = _mm_setr_pd(1'000'000, 100);
#pragma GCC unroll 8
  for (int f = 0; f < kRecordFields; ++f) {
    const unsigned point_bits = field_bits(points, f);
    // A second point: no common field.
    if ((point_bits & (point_bits - 1)) != 0) read &= ~(1u << f);
    const int point = std::countr_zero(point_bits | (1u << kFieldWidth));
    const int scale = point == kFieldWidth ? items[f].edit.decimals : kFieldWidth - point;
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
  return read;
}

#else

unsigned read_record(const char*, std::size_t, const DataItem*, float*) {
  return 0;  // the full scan reads every field
}

#endif

}  // namespace recordio
