// Which display server serves the capture jobs, chosen from the environment:
// PELLIX_CAPTURE_BACKEND (x11, wayland or portal) when set; else the Wayland
// compositor in WAYLAND_DISPLAY when it answers: through screencopy where it
// offers that, else through the desktop's screencast portal (GNOME, KDE);
// else the X server in DISPLAY; else why nothing can serve.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform {

// portal: the Wayland compositor lists the displays, the screencast portal
// and PipeWire deliver their pictures.
enum class Backend { x11, wayland, portal };

// What a look at the compositor in WAYLAND_DISPLAY found.
struct WaylandLook {
  bool answers = false;
  bool screencopy = false;
};

struct BackendChoice {
  std::optional<Backend> backend;  // none when nothing can serve: `problem` says why
  std::string problem;             // follows "the capture could not start: "
  std::string note;                // a progress line on what the choice means, or empty
};

// `variable` gives an environment variable's value (none when unset); `look`
// is asked at most once, and only when WAYLAND_DISPLAY matters.
BackendChoice chooseBackend(const std::function<std::optional<std::string>(const std::string&)>& variable,
                            const std::function<WaylandLook()>& look);

}  // namespace platform
