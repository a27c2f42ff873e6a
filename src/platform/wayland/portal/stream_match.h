// Which listed display a portal's stream shows. The portal describes each
// stream by a position and a size in points, which some portals leave out or
// give as 0,0 for every monitor (xdg-desktop-portal-wlr 0.7).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/content.h"

namespace platform::wayland::portal {

// One stream the portal shares.
struct SharedStream {
  uint32_t node = 0;  // the PipeWire node
  std::optional<int32_t> x, y;            // "position", points
  std::optional<int32_t> width, height;   // "size", points
};

// The index in `displays` of the display the stream shows: the one with its
// position (other than 0,0) and size, else the only one of its size; none
// when neither settles it.
std::optional<size_t> matchingDisplay(const SharedStream& stream, const std::vector<Display>& displays);

}  // namespace platform::wayland::portal
