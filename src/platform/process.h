// Ending the process.
#pragma once

namespace farlink::platform {

// Flushes standard output and ends the process at once with the code, without running the
// destructors of process-wide state that detached threads may still be using.
[[noreturn]] void exitProcess(int code);

} // namespace farlink::platform
