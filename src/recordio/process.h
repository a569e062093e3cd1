// What the runtime needs of the platform's processes beyond its files: readying the process at
// start-up, and the abnormal end of the fatal path.
#pragma once

namespace recordio {

// Readies the process before anything of the runtime runs.
void prepare_process();

// Ends the process through abort, adding no message of the runtime's own: the abort signal's
// handler is put back to the platform's default first.
[[noreturn]] void abort_plainly() noexcept;

}  // namespace recordio
