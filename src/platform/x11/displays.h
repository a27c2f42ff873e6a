// The displays of the X screen: RandR monitors (or active CRTCs), else the
// whole screen as one display. Points are pixels on X.
#pragma once

#include <vector>

#include "platform/content.h"
#include "platform/x11/connection.h"

namespace platform::x11 {

struct Monitor {
  Display display;  // id: the RandR output of the monitor's first output, its name atom without
                    // outputs, the root window without RandR
  bool primary = false;
};

// In the server's order, which is fixed while the monitors stay the same.
// Empty when the connection breaks.
std::vector<Monitor> monitors(Connection& connection);

// The primary monitor, else the first; 0 when there is none.
uint32_t mainDisplay(const std::vector<Monitor>& monitors);

}  // namespace platform::x11
