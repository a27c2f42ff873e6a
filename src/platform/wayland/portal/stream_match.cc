#include "platform/wayland/portal/stream_match.h"

namespace platform::wayland::portal {

std::optional<size_t> matchingDisplay(const SharedStream& stream, const std::vector<Display>& displays) {
  if (!stream.width || !stream.height) return std::nullopt;
  auto sized = [&](const Display& d) { return d.width == *stream.width && d.height == *stream.height; };
  // 0,0 tells nothing: it is what wlroots' portal gives for every monitor.
  if (stream.x && stream.y && (*stream.x != 0 || *stream.y != 0))
    for (size_t i = 0; i < displays.size(); i++)
      if (sized(displays[i]) && displays[i].x == *stream.x && displays[i].y == *stream.y) return i;
  std::optional<size_t> only;
  for (size_t i = 0; i < displays.size(); i++) {
    if (!sized(displays[i])) continue;
    if (only) return std::nullopt;
    only = i;
  }
  return only;
}

}  // namespace platform::wayland::portal
