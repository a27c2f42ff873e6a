#include "platform/backend.h"

namespace platform {

BackendChoice chooseBackend(const std::function<std::optional<std::string>(const std::string&)>& variable,
                            const std::function<WaylandLook()>& look) {
  auto set = [&](const std::string& name) {
    auto value = variable(name);
    return value && !value->empty() ? value : std::nullopt;
  };
  if (auto chosen = set("PELLIX_CAPTURE_BACKEND")) {
    if (*chosen == "x11") return {Backend::x11, "", ""};
    if (*chosen == "wayland") return {Backend::wayland, "", ""};
    if (*chosen == "portal") return {Backend::portal, "", ""};
    return {std::nullopt, "PELLIX_CAPTURE_BACKEND is \"" + *chosen + "\", but it takes x11, wayland or portal", ""};
  }
  auto wayland = set("WAYLAND_DISPLAY");
  auto x = set("DISPLAY");
  if (!wayland) return {Backend::x11, "", ""};  // the X server says when DISPLAY is unset too
  WaylandLook found = look();
  if (found.answers && found.screencopy) return {Backend::wayland, "", ""};
  if (found.answers)
    return {Backend::portal, "",
            "the Wayland compositor at " + *wayland +
                " does not offer screencopy (GNOME and KDE do not): capturing through the desktop's screencast "
                "portal, which asks the user once"};
  std::string compositor = "no Wayland compositor answers at " + *wayland;
  if (x)
    return {Backend::x11, "", compositor + ": capturing through the X server " + *x + ", which sees X programs only"};
  return {std::nullopt, compositor + ", and there is no X server to fall back on (DISPLAY is not set)", ""};
}

}  // namespace platform
