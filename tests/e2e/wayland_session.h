// A private headless Wayland session for end-to-end tests: sway as the user
// nobody with PipeWire, WirePlumber and a D-Bus session bus, started by
// tools/wayland_session.sh. The output HEADLESS-1 sits at 0,0 with the
// background #336699; root reaches its sockets, so the tool runs as we do,
// except with the portal: root cannot call nobody's session bus.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

#include "harness.h"

namespace e2e {

// Which screencast portal the session serves: none, the wlroots backend
// built for the tests (tools/portal/build_backend.sh), or Debian's own copy,
// which refuses every start on a machine without a GPU.
enum class Portal { none, built, debian };

class WaylandSession {
 public:
  static constexpr uint32_t background = 0x336699;

  WaylandSession(int width = 1280, int height = 720, Portal portal = Portal::none);
  // Stops every process of the session.
  ~WaylandSession();
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  // The session's variables, with DISPLAY emptied (no X server).
  Environment environment() const;
  // Runs a sway command (swaymsg); throws when sway says it failed.
  void sway(const std::string& command) const;
  // `swaymsg -t <type>`, parsed.
  nlohmann::json ask(const std::string& type) const;
  // sway's own process, for tests that kill the compositor.
  pid_t compositor() const { return compositor_; }
  // PipeWire's objects, as pw-dump gives them (JSON).
  std::string pipewireObjects() const;
  // PipeWire's, the portal's (once D-Bus started it) and its backend's processes.
  pid_t pipewire() const;
  pid_t portal() const;
  pid_t portalBackend() const;
  // What the portal's output chooser answers from now on: an output's name,
  // or "" to cancel; and how often it has run.
  void chooserAnswers(const std::string& answer) const;
  int chooserRuns() const;

 private:
  std::unique_ptr<Child> script_;
  Environment environment_;
  pid_t compositor_ = -1;
};

// sway nested in a session, as a client of it, with two outputs WL-1 and
// WL-2 that are windows of the session: closing such a window unplugs that
// output, which a headless output cannot do.
class NestedSway {
 public:
  explicit NestedSway(const WaylandSession& parent);
  ~NestedSway();
  NestedSway(const NestedSway&) = delete;
  NestedSway& operator=(const NestedSway&) = delete;

  // The nested compositor's variables.
  Environment environment() const { return environment_; }
  // Unplugs the output `name` ("WL-2").
  void unplug(const std::string& name);

 private:
  const WaylandSession& parent_;
  std::unique_ptr<Child> sway_;
  Environment environment_;
  std::string config_;
};

// A window of our own on the session (wayland_paint.c), floating with its
// top-left corner at x, y, filled with `rgb`. Ready once sway shows it there.
// `name` must begin with "pellix-": such windows float at their own size.
struct WaylandWindow {
  std::unique_ptr<Child> process;
  // Sends one line ("color RRGGBB", "animate FPS") and waits for its "ok".
  void tell(const std::string& line);
};
WaylandWindow paintWayland(const WaylandSession& session, int x, int y, int width, int height, uint32_t rgb,
                           const std::string& name);

}  // namespace e2e
