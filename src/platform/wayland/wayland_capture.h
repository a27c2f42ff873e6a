// The screen capture service on a Wayland compositor: its outputs are the
// displays, captured through the screencopy protocol without a prompt on
// wlroots compositors (sway, Hyprland, river, labwc, Wayfire), or through the
// desktop's screencast portal and PipeWire once the user agreed (GNOME, KDE,
// any desktop with a portal). It names no windows and no applications, so
// jobs that need them are refused. It connects on first use.
#pragma once

#include <memory>

#include "platform/backend.h"
#include "platform/capture.h"

namespace platform {

class WaylandCapture : public Capture {
 public:
  WaylandCapture();
  ~WaylandCapture() override;

  // Screencopy asks no one; the portal asks the user when a stream starts.
  bool allowed() override { return true; }
  uint32_t mainDisplayID() override;
  ShareableContent shareableContent() override;
  std::optional<DisplayMode> displayMode(uint32_t displayID) override;
  ContentFilter windowFilter(const Window& window) override;
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                     StreamDelegate& delegate) override;
  bool takesScreenshots() override;
  Picture captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) override;
  std::optional<Error> refusesWindows() override;
  std::optional<Error> refusesLeavingOut() override;
  double hostNow() override;
  double wallNow() override;

  // Whether a compositor answers at WAYLAND_DISPLAY, and offers screencopy.
  // The connection stays for the listing and the screenshot.
  WaylandLook look();
  // Streams come through the screencast portal from now on; screenshots too
  // where the compositor offers no screencopy.
  void usePortal();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
