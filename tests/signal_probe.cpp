// A run that writes one console line, then waits in a skip READ of standard input.
#include <string_view>

#include "recordio/recordio.h"

void MAIN__() {
  using namespace recordio;
  static constexpr cilist kConsole{0, 6, 0, nullptr, 0};
  static constexpr cilist kSkipInput{0, 5, 0, nullptr, 0};
  constexpr std::string_view kReady = "waiting";
  s_wsle(&kConsole);
  do_lio(kTypeCharacter, 1, kReady.data(), kReady.size());
  e_wsle();
  s_rsle(&kSkipInput);
  e_rsle();
  s_stop("", 0);
}
