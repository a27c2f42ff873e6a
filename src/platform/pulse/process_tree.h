// Which processes came from which: an application's sound may come from its
// child processes (a browser plays from a helper).
#pragma once

#include <sys/types.h>

namespace platform::pulse {

// Whether `pid` is `ancestor` or one of its descendants, as /proc says now.
bool descendsFrom(pid_t pid, pid_t ancestor);

}  // namespace platform::pulse
