// Reads a component file: header records skipped or echoed by the header plan, then data records
// of eight E10.4 fields until the end of the file.
#include <string_view>

#include "conversion/run.h"

namespace cdmg {
namespace {

using namespace recordio;

constexpr ftnint kFileUnit = 11;
constexpr ftnint kConsole = 6;
constexpr char kFormatLine[] = "(a80)";
constexpr char kFormat1000[] = "(8E10.4)";  // a data record

constexpr cilist kSkip{0, kFileUnit, 0, nullptr, 0};
constexpr cilist kReadLine{0, kFileUnit, 0, kFormatLine, 0};
constexpr cilist kReadData{0, kFileUnit, 1, kFormat1000, 0};
constexpr cilist kWriteConsole{0, kConsole, 0, nullptr, 0};
constexpr cllist kClose{0, kFileUnit, nullptr};

constexpr std::string_view kCountsLabel = "i,in=";
constexpr std::string_view kRowsLabel = "nt=";
constexpr char kTooManyRecords[] = "more than 4125 data records";

void skip_records(int count) {
  for (int k = 0; k < count; ++k) {
    s_rsle(&kSkip);
    e_rsle();  // the end of the file is noted by the unit, not here
  }
}

void echo_line(Run& r) {
  s_rsfe(&kReadLine);
  do_fio(1, r.line, kNameLength);
  e_rsfe();
  s_wsle(&kWriteConsole);
  do_lio(kTypeCharacter, 1, r.line, kNameLength);
  e_wsle();
}

// One data record into samples in..in+7; false when the READ took its end-of-file exit.
//
// The arrays hold 4125 records. One record more is read as usual, its fields edited, into
// scratch storage: it is the one a run leaves out of nt, usually the blank line that ends a file.
// A file that goes on after it is refused.
bool read_data_record(Run& r, Samples& a) {
  if (s_rsfe(&kReadData) != 0) return false;
  real scratch[kFieldsPerRecord];
  real* fields = scratch;
  if (r.in <= kCapacity) {
    fields = &a[static_cast<std::size_t>(r.in - 1)];
  } else if (r.in > kCapacity + kFieldsPerRecord) {
    if (f_at_end(kFileUnit)) return false;
    f_fail("read", kTooManyRecords);
  }
  for (r.j = 0; r.j < kFieldsPerRecord; ++r.j) {
    if (do_fio(1, &fields[r.j], sizeof(real)) != 0) return false;
  }
  return e_rsfe() == 0;
}

}  // namespace

void read_component(Run& r, HeaderPlan plan, char* name, Samples& a) {
  const olist open{0, kFileUnit, name, kNameLength, "old", nullptr, nullptr, 0, nullptr};
  f_open(&open);
  skip_records(5);
  echo_line(r);
  skip_records(26);
  if (plan == HeaderPlan::kB) echo_line(r);

  for (r.i = 0;; ++r.i) {
    r.in = kFieldsPerRecord * r.i + 1;
    if (!read_data_record(r, a)) break;
  }

  s_wsle(&kWriteConsole);
  do_lio(kTypeCharacter, 1, kCountsLabel.data(), kCountsLabel.size());
  do_lio(kTypeInteger, 1, &r.i, sizeof r.i);
  do_lio(kTypeInteger, 1, &r.in, sizeof r.in);
  e_wsle();
  r.nt = kFieldsPerRecord * r.i - kFieldsPerRecord;
  s_wsle(&kWriteConsole);
  do_lio(kTypeCharacter, 1, kRowsLabel.data(), kRowsLabel.size());
  do_lio(kTypeInteger, 1, &r.nt, sizeof r.nt);
  e_wsle();
  f_clos(&kClose);
}

}  // namespace cdmg
