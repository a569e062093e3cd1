// The conversion run: the console dialogue, the three component reads, the output phase, STOP.
#include <string_view>

#include "conversion/run.h"

namespace {

using namespace recordio;
using cdmg::HeaderPlan;
using cdmg::kNameLength;

constexpr ftnint kConsole = 6;
constexpr cilist kWriteConsole{0, kConsole, 0, nullptr, 0};

constexpr std::string_view kBanner = "Program for Reading CDMG-TYpe Strong Motion Data";
constexpr std::string_view kPrompts[] = {
    "Enter 1st File Name of 3 Components",
    "Enter 2nd File Name of 3 Components",
    "Enter 3rd File Name of 3 Components",
};
constexpr std::string_view kComponent1 = "QRV-N00-1.txt";
constexpr std::string_view kComponent2 = "QRV-N90-1.txt";
constexpr std::string_view kComponent3 = "QRV-UP-1.txt";
constexpr std::string_view kAssumedDt = " assumed dt =";
constexpr real kDt = 0.005f;

void write_text(std::string_view text) {
  s_wsle(&kWriteConsole);
  do_lio(kTypeCharacter, 1, text.data(), text.size());
  e_wsle();
}

}  // namespace

void MAIN__() {
  static cdmg::Run r;  // static storage: the sample arrays start as zeros

  write_text(kBanner);
  s_wsle(&kWriteConsole);
  e_wsle();
  for (std::string_view prompt : kPrompts) write_text(prompt);  // nothing is read for them

  s_copy(r.infile1, kComponent1.data(), kNameLength, kComponent1.size());
  s_copy(r.infile2, kComponent2.data(), kNameLength, kComponent2.size());
  s_copy(r.infile3, kComponent3.data(), kNameLength, kComponent3.size());

  r.dt = kDt;
  s_wsle(&kWriteConsole);
  do_lio(kTypeCharacter, 1, kAssumedDt.data(), kAssumedDt.size());
  do_lio(kTypeReal, 1, &r.dt, sizeof r.dt);
  e_wsle();

  cdmg::read_component(r, HeaderPlan::kA, r.infile1, r.x);
  cdmg::read_component(r, HeaderPlan::kB, r.infile2, r.y);
  cdmg::read_component(r, HeaderPlan::kA, r.infile3, r.z);
  cdmg::write_combined(r);

  s_stop("", 0);
}
