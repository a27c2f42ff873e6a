// What can be captured on the X server: displays, windows, applications.
#pragma once

#include "platform/content.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

// One snapshot. Windows front to back (the stacking order, topmost first),
// displays in the server's order, applications by process id. Throws Error
// when the connection is broken.
ShareableContent listing(Connection& connection);

}  // namespace platform::x11
