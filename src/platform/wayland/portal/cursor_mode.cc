#include "platform/wayland/portal/cursor_mode.h"

namespace platform::wayland::portal {

std::optional<uint32_t> cursorMode(bool shown, uint32_t available) {
  uint32_t wanted = shown ? cursorEmbedded : cursorHidden;
  if (available & wanted) return wanted;
  return std::nullopt;
}

}  // namespace platform::wayland::portal
