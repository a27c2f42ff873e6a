// One picture of what a filter shows, taken at once on a connection of its
// own: no stream, no capture thread.
#pragma once

#include <string>

#include "platform/content.h"
#include "platform/picture.h"

namespace platform::x11 {

// Grabs once, at the configured size (0: the source's own), cropped to
// `sourceRect`, with the pointer when `showsCursor`; excluded applications are
// never visible. `display` names the X server (empty: $DISPLAY). Throws Error:
// userDeclined when the server refuses, else why the picture cannot be taken.
Picture oneShot(const std::string& display, const ContentFilter& filter, const StreamConfiguration& configuration);

}  // namespace platform::x11
