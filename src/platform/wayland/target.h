// What a stream or a screenshot of a content filter captures: one output,
// whole or a part of it, at the configured size. Windows and left-out
// applications are refused: a Wayland compositor names neither to us.
#pragma once

#include "platform/content.h"
#include "platform/wayland/connection.h"

namespace platform::wayland {

struct Target {
  wl_output* output = nullptr;
  OutputState state;
  Box area;               // output pixels; may reach past the output
  int width = 0, height = 0;  // the frames' size
};

// Throws Error when the filter asks for what cannot be done here or the
// display is not there.
Target chooseTarget(const Connection& connection, const ContentFilter& filter,
                    const StreamConfiguration& configuration);

// Why a job that names a window, or leaves applications out, is refused.
Error windowsRefused();
Error leavingOutRefused();

}  // namespace platform::wayland
