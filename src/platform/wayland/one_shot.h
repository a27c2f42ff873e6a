// One picture of a display, taken at once with a plain screencopy `copy`,
// which answers even when nothing changes.
#pragma once

#include "platform/content.h"
#include "platform/picture.h"
#include "platform/wayland/connection.h"

namespace platform::wayland {

// The display of `filter`, whole or cropped to `sourceRect`, at the
// configured size (0: the area's own), opaque, with the pointer when
// `showsCursor`. Throws Error when it cannot be taken.
Picture oneShot(Connection& connection, const ContentFilter& filter, const StreamConfiguration& configuration);

}  // namespace platform::wayland
