// The runtime's signal handlers.
#pragma once

namespace recordio {

// Installs the handlers of the floating-point exception, abort, interrupt and termination
// signals (on Windows also of the console's events, as an interrupt or a termination request),
// and, where the platform has them, of hang-up, quit, broken pipe and the file-size limit, which
// close every unit and then end the process by their own default action. An interrupt, hang-up,
// quit, broken pipe or file-size signal ignored when the process started stays ignored.
void install_signal_handlers();

}  // namespace recordio
