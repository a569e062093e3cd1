// The process services of Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "process.h"

namespace recordio {
namespace {

// A C runtime function given a descriptor that is not open (a standard stream the process was
// started without) reports EBADF, as on any other system, rather than ending the process.
void carry_on(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, std::uintptr_t) {}

}  // namespace

void prepare_process() {
  // No dialog of the system's stops an unattended run: not for a drive without its medium, a
  // file that cannot be found, nor a crash.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  _set_invalid_parameter_handler(carry_on);
  // The runtime writes its own line ends and reads CR LF itself: the standard streams are
  // binary, as every file it opens is.
  for (int stream = 0; stream <= 2; ++stream) (void)_setmode(stream, _O_BINARY);
}

void abort_plainly() noexcept {
  // The C runtime's abort (msvcrt.dll's, which has no switch for it) first writes a message of its
  // own to standard error, then raises the abort signal, and, its handler being the default,
  // ends the process with status 3. The same ending, without the message, and with no report
  // to the system's error reporting, which could show a dialog.
  _exit(3);
}

}  // namespace recordio
