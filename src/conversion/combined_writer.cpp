// The output phase: asks for the output name, then writes one row per sample: the time and the
// three components, comma-separated, under format 2000.
#include <string_view>

#include "conversion/run.h"

namespace cdmg {
namespace {

using namespace recordio;

constexpr ftnint kFileUnit = 11;
constexpr ftnint kConsole = 6;
constexpr ftnint kInput = 5;
constexpr char kFormatName[] = "(a80)";
// F7.3, then three times a comma and F10.3; the byte 0x02 delimits the literal comma.
constexpr char kFormat2000[] = "(F7.3,3(\x02,\x02,F10.3))";

constexpr cilist kWriteConsole{0, kConsole, 0, nullptr, 0};
constexpr cilist kReadName{0, kInput, 0, kFormatName, 0};
constexpr cilist kWriteRow{0, kFileUnit, 0, kFormat2000, 0};
constexpr cllist kClose{0, kFileUnit, nullptr};

constexpr std::string_view kPrompt = "Enter Output Acceleration File Name (CSV format)";

}  // namespace

void write_combined(Run& r) {
  s_wsle(&kWriteConsole);
  e_wsle();
  s_wsle(&kWriteConsole);
  do_lio(kTypeCharacter, 1, kPrompt.data(), kPrompt.size());
  e_wsle();

  s_rsfe(&kReadName);
  do_fio(1, r.infile1, kNameLength);
  e_rsfe();

  write_output_file(r);
}

void write_output_file(Run& r) {
  const olist open{0, kFileUnit, r.infile1, kNameLength, "unknown", nullptr, nullptr, 0, nullptr};
  f_open(&open);
  for (r.i = 1; r.i <= r.nt; ++r.i) {
    // (i - 1) * dt: an exact product, rounded once to single precision.
    r.t = static_cast<real>(r.i - 1) * r.dt;
    const auto k = static_cast<std::size_t>(r.i - 1);
    s_wsfe(&kWriteRow);
    do_fio(1, &r.t, sizeof(real));
    do_fio(1, &r.x[k], sizeof(real));
    do_fio(1, &r.y[k], sizeof(real));
    do_fio(1, &r.z[k], sizeof(real));
    e_wsfe();
  }
  f_clos(&kClose);
}

}  // namespace cdmg
