// What the runtime needs of the platform's processes beyond its files: readying the process at
// start-up, and the abnormal end of the fatal path.
#pragma once

namespace recordio {

// Readies the process before anything of the runtime runs.
void prepare_process();

// Ends the process as abort does, with no message of the runtime's or the platform's own, and
// with no handler of the runtime's run on the way.
[[noreturn]] void abort_plainly() noexcept;

}  // namespace recordio
