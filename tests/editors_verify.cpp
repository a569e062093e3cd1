// Exhaustive verification of the editors' fast paths against their references.
//
// Input: the record reader against the full scan on every field of the fixed-decimal shapes, the
// ten-character texts printf's "%10.Nf" makes for N = 0 to 8 (a text without a point has four
// implied decimals, as E10.4 reads it), each text in each of the eight field positions: the texts
// of one N follow one another, and the record at text i holds texts i to i + 7 (the sequence taken
// as a ring). Records with every point in one column take the record reader's aligned branch; each
// such record is also read with one field made pointless, which takes the field-by-field branch.
// Every field the record reader reads must be the scan's value of the same text, bit for bit; and
// as every field here has the common shape, the record reader must read each one where it has
// vector instructions (without them it reads none).
//
// Output: the rows' fields, F7.3 and F10.3 as the rows write them (the in-line editor and
// write_fixed for the values it leaves), against printf's "%#.3f" placed by the editing rules
// (support/fixed_reference.h), on every single-precision bit pattern.
//
//   editors_verify [--stride S] [--threads T]
// With a stride S, only every S-th text and bit pattern is checked (make test runs such a slice):
// records of eight texts in a row, every 8 S texts.
// Prints what it executed and the mismatches, and fails on any mismatch; on standard error, how
// far it got.
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recordio/input_editing.h"
#include "recordio/output_editing.h"
#include "recordio/record_reader.h"
#include "support/field_scan.h"
#include "support/fixed_reference.h"

namespace {

using namespace recordio;

constexpr int kWidth = kFieldWidth;
constexpr int kImpliedDecimals = 4;
constexpr int kMostDecimals = 8;

std::mutex report_lock;
std::atomic<int> reported{0};

void report(const char* format, auto... args) {
  if (reported.fetch_add(1) >= 20) return;
  const std::lock_guard<std::mutex> lock(report_lock);
  std::printf(format, args...);
  std::fflush(stdout);
}

// ---- Input

// The texts of one shape: N decimals, one sign; the k-th is the number k / 10^N.
struct Shape {
  int decimals;
  bool negative;
  std::uint64_t count;  // the texts that fit ten columns
};

std::vector<Shape> shapes() {
  std::vector<Shape> all;
  for (int n = 0; n <= kMostDecimals; ++n) {
    // Digits that fit: ten columns less the point, less the sign; at least one before the point.
    const int positive_digits = n == 0 ? kWidth : kWidth - 1;
    const int negative_digits = positive_digits - 1;
    std::uint64_t p = 1, q = 1;
    for (int i = 0; i < positive_digits; ++i) p *= 10;
    for (int i = 0; i < negative_digits; ++i) q *= 10;
    all.push_back({n, false, p});
    if (negative_digits > n) all.push_back({n, true, q});
  }
  return all;
}

// The text "%10.Nf" makes of k / 10^N with the shape's sign, as printf writes it: right-justified,
// a "0" before the point of a number below 1, a minus sign even on zero.
void shape_text(char* out, std::uint64_t k, const Shape& s) {
  char* p = out + kWidth;
  for (int j = 0; j < s.decimals; ++j) {
    *--p = static_cast<char>('0' + k % 10);
    k /= 10;
  }
  if (s.decimals > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + k % 10);
    k /= 10;
  } while (k != 0);
  if (s.negative) *--p = '-';
  while (p > out) *--p = ' ';
}

// The full scan's value of a ten-column text, as E10.4 reads it.
bool scanned(const char* text, std::uint32_t& bits) {
  const testing_support::FieldScan scan =
      testing_support::scan_field(text, kWidth, kImpliedDecimals);
  if (scan.status != EditStatus::kOk || scan.columns != kWidth) return false;
  bits = scan.bits;
  return true;
}

struct InputCounts {
  std::uint64_t texts = 0;           // texts scanned
  std::uint64_t records = 0;         // records read by the record reader
  std::uint64_t fields_read = 0;     // fields the record reader read and the scan checked
  std::uint64_t fields_left = 0;     // fields it left to the scan
  std::uint64_t printf_checked = 0;  // texts compared with printf's own
  std::uint64_t mismatches = 0;
};

// The records that begin at texts first..last - 1 of a shape.
void check_records(const Shape& s, std::uint64_t first, std::uint64_t last, std::uint64_t stride,
                   InputCounts& counts) {
  DataItem items[kRecordFields] = {};
  for (DataItem& item : items) item.edit = {'E', kWidth, kImpliedDecimals};
  constexpr std::size_t kChunk = 4096;
  // The texts of kChunk records (a run of kChunk + 7 texts, or eight a record with a stride), and
  // bytes after them: the loads of a record stay within.
  std::vector<char> texts(kChunk * kRecordFields * kWidth + 16, ' ');
  std::vector<std::uint32_t> expected(kChunk * kRecordFields);
  char moved[kRecordColumns + 16];
  float values[kRecordFields];
  const std::uint64_t step = stride == 1 ? 1 : kRecordFields * stride;  // from record to record
  for (std::uint64_t base = first; base < last; base += kChunk * step) {
    const std::uint64_t records = std::min<std::uint64_t>(kChunk, (last - base + step - 1) / step);
    // With a stride, the texts of each record checked; without one, a run of texts.
    const std::uint64_t texts_needed =
        stride == 1 ? records + kRecordFields - 1 : records * kRecordFields;
    for (std::uint64_t t = 0; t < texts_needed; ++t) {
      const std::uint64_t k =
          stride == 1 ? (base + t) % s.count
                      : (base + (t / kRecordFields) * step + t % kRecordFields) % s.count;
      char* text = texts.data() + t * kWidth;
      shape_text(text, k, s);
      if (k % 1009 == 0) {
        char printed[32];
        const double value = static_cast<double>(k) / std::pow(10.0, s.decimals);
        std::snprintf(printed, sizeof printed, "%10.*f", s.decimals, s.negative ? -value : value);
        ++counts.printf_checked;
        if (std::memcmp(printed, text, kWidth) != 0 || printed[kWidth] != '\0') {
          ++counts.mismatches;
          report("text of %llu with %d decimals: \"%.10s\", printf \"%s\"\n",
                 static_cast<unsigned long long>(k), s.decimals, text, printed);
        }
      }
      if (!scanned(text, expected[t])) {
        ++counts.mismatches;
        report("the scan does not read \"%.10s\" whole\n", text);
      }
    }
    counts.texts += texts_needed;
    for (std::uint64_t r = 0; r < records; ++r) {
      const std::uint64_t at = stride == 1 ? r : r * kRecordFields;
      const char* record = texts.data() + at * kWidth;
      for (int variant = 0; variant < 2; ++variant) {
        // The second reading: a pointless field in one position, so that the points no longer
        // share a column (a record without points already took that branch).
        if (variant == 1) {
          if (s.decimals == 0) break;
          std::memcpy(moved, record, kRecordColumns);
          std::memcpy(moved + ((base + r) % kRecordFields) * kWidth, "         1", kWidth);
          record = moved;
        }
        const unsigned read = read_record(record, kRecordColumns + 1, items, values);
        ++counts.records;
        for (int f = 0; f < kRecordFields; ++f) {
          if (variant == 1 && static_cast<std::uint64_t>(f) == (base + r) % kRecordFields) continue;
          if ((read & (1u << f)) == 0) {
            ++counts.fields_left;
            if (RECORDIO_SIMD) {
              ++counts.mismatches;
              report("field %d \"%.10s\": the record reader left it to the scan\n", f,
                     record + f * kWidth);
            }
            continue;
          }
          ++counts.fields_read;
          const std::uint32_t got = std::bit_cast<std::uint32_t>(values[f]);
          const std::uint32_t want = expected[at + static_cast<std::uint64_t>(f)];
          if (got != want) {
            ++counts.mismatches;
            report("field %d \"%.10s\": record reader %08x, scan %08x\n", f, record + f * kWidth,
                   got, want);
          }
        }
      }
    }
  }
}

// ---- Output

struct OutputCounts {
  std::uint64_t patterns = 0;
  std::uint64_t fields = 0;
  std::uint64_t mismatches = 0;
};

void check_patterns(std::uint64_t first, std::uint64_t last, std::uint64_t stride,
                    OutputCounts& counts) {
  char text[64];
  char want7[7], want10[10], got7[7], got10[10];
  for (std::uint64_t p = first; p < last; p += stride) {
    const float v = std::bit_cast<float>(static_cast<std::uint32_t>(p));
    bool minus;
    const std::size_t length = testing_support::fixed_text(v, 3, text, sizeof text, minus);
    testing_support::place_fixed_text(text, length, minus, 7, want7);
    testing_support::place_fixed_text(text, length, minus, 10, want10);
    write_row_field<7>(got7, v);
    write_row_field<10>(got10, v);
    ++counts.patterns;
    counts.fields += 2;
    if (std::memcmp(got7, want7, 7) != 0) {
      ++counts.mismatches;
      report("F7.3 of %08llx: \"%.7s\", printf \"%.7s\"\n", static_cast<unsigned long long>(p),
             got7, want7);
    }
    if (std::memcmp(got10, want10, 10) != 0) {
      ++counts.mismatches;
      report("F10.3 of %08llx: \"%.10s\", printf \"%.10s\"\n", static_cast<unsigned long long>(p),
             got10, want10);
    }
  }
}

// ---- Work shared between threads: pieces taken in turn.

struct Piece {
  int shape;  // an index into shapes(), or -1 for bit patterns
  std::uint64_t first, last;
};

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t stride = 1;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--stride") {
      stride = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (option == "--threads") {
      threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    } else {
      std::fprintf(stderr, "usage: %s [--stride S] [--threads T]\n", argv[0]);
      return 2;
    }
  }
  if (stride == 0 || threads == 0) return 2;

  const std::vector<Shape> all = shapes();
  std::vector<Piece> pieces;
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 24;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::uint64_t step = stride == 1 ? 1 : kRecordFields * stride;
    for (std::uint64_t first = 0; first < all[i].count; first += kPiece * step) {
      pieces.push_back({static_cast<int>(i), first, std::min(all[i].count, first + kPiece * step)});
    }
  }
  for (std::uint64_t first = 0; first < (std::uint64_t{1} << 32); first += kPiece * stride) {
    pieces.push_back({-1, first, std::min(std::uint64_t{1} << 32, first + kPiece * stride)});
  }

  std::printf(
      "editors_verify: %s, %u threads, vector paths %s\n",
      stride == 1 ? "every value" : ("every " + std::to_string(stride) + "th value").c_str(),
      threads, RECORDIO_SIMD ? "on" : "off");
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> finished{0};
  std::vector<InputCounts> input(threads);
  std::vector<OutputCounts> output(threads);
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (std::size_t i; (i = next.fetch_add(1)) < pieces.size();) {
        const Piece& piece = pieces[i];
        if (piece.shape >= 0) {
          check_records(all[static_cast<std::size_t>(piece.shape)], piece.first, piece.last, stride,
                        input[t]);
        } else {
          check_patterns(piece.first, piece.last, stride, output[t]);
        }
        // The long run says how far it got, every twentieth of the work.
        const std::size_t done = ++finished;
        if (done * 20 / pieces.size() != (done - 1) * 20 / pieces.size()) {
          std::fprintf(stderr, "%zu%% done\n", done * 100 / pieces.size());
        }
      }
    });
  }
  for (std::thread& w : workers) w.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  InputCounts in;
  for (const InputCounts& c : input) {
    in.texts += c.texts;
    in.records += c.records;
    in.fields_read += c.fields_read;
    in.fields_left += c.fields_left;
    in.printf_checked += c.printf_checked;
    in.mismatches += c.mismatches;
  }
  OutputCounts out;
  for (const OutputCounts& c : output) {
    out.patterns += c.patterns;
    out.fields += c.fields;
    out.mismatches += c.mismatches;
  }
  const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
  std::printf(
      "input: %llu texts of \"%%10.Nf\" (N = 0 to 8) scanned, %llu of them checked against "
      "printf; %llu records read, %llu fields read by the record reader and compared with "
      "the scan, %llu left to it; mismatches: %llu\n",
      n(in.texts), n(in.printf_checked), n(in.records), n(in.fields_read), n(in.fields_left),
      n(in.mismatches));
  std::printf(
      "output: %llu bit patterns, %llu fields F7.3 and F10.3 compared with printf; "
      "mismatches: %llu\n",
      n(out.patterns), n(out.fields), n(out.mismatches));
  std::printf("%.1f s\n", seconds);
  return in.mismatches + out.mismatches == 0 ? 0 : 1;
}
