// SIGTERM handling for the capture jobs: blocked in every thread, awaited on
// the main thread.
#pragma once

namespace platform {

// Blocks SIGTERM in the calling thread; threads started afterwards inherit it.
void blockTerm();

// Waits for SIGTERM, then removes the unfinished files (unfinished_file.h)
// and ends the process with status 0.
[[noreturn]] void exitOnTerm();

}  // namespace platform
