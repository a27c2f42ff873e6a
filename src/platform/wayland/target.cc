#include "platform/wayland/target.h"

namespace platform::wayland {

Error windowsRefused() {
  return {failedToStart,
          "--window needs a window id, and a Wayland compositor gives none to capture tools: neither a "
          "window's pictures nor its application's sound can be told apart (only displays are captured here)"};
}

Error leavingOutRefused() {
  return {failedToStart,
          "--exclude-pid needs to tell each application's windows apart, which a Wayland compositor does not let "
          "capture tools do (its pixels and sound would be captured all the same)"};
}

Target chooseTarget(const Connection& connection, const ContentFilter& filter,
                    const StreamConfiguration& configuration) {
  if (filter.kind == ContentFilter::Kind::window) throw windowsRefused();
  if (!filter.applications.empty()) throw leavingOutRefused();
  if (!connection.screencopy())
    throw Error{failedToStart, "the Wayland compositor at " + socketName() +
                                   " does not offer screencopy (zwlr_screencopy_manager_v1 version 2 or later)"};
  uint32_t id = filter.display.displayID;
  auto state = connection.state(id);
  if (!state) throw Error{failedToStart, "there is no display " + std::to_string(id)};
  if (auto why = uncapturable(*state))
    throw Error{failedToStart, "display " + std::to_string(id) + " (" + displayName(*state) + ") cannot be captured: " + *why};
  Target target;
  target.output = connection.output(id);
  target.state = *state;
  target.area = area(*state, configuration.sourceRect);
  target.width = configuration.width > 0 ? int(configuration.width) : target.area.width;
  target.height = configuration.height > 0 ? int(configuration.height) : target.area.height;
  if (target.width <= 0 || target.height <= 0) throw Error{failedToStart, "the frame size is empty"};
  return target;
}

}  // namespace platform::wayland
