// The screen capture service on a wlroots compositor (sway, Hyprland, river,
// labwc, Wayfire): its outputs are the displays, captured through the
// screencopy protocol without a prompt. It names no windows and no
// applications, so jobs that need them are refused. It connects on first use.
#pragma once

#include <memory>

#include "platform/backend.h"
#include "platform/capture.h"

namespace platform {

class WaylandCapture : public Capture {
 public:
  WaylandCapture();
  ~WaylandCapture() override;

  bool allowed() override { return true; }  // screencopy asks no one
  uint32_t mainDisplayID() override;
  ShareableContent shareableContent() override;
  std::optional<DisplayMode> displayMode(uint32_t displayID) override;
  ContentFilter windowFilter(const Window& window) override;
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                     StreamDelegate& delegate) override;
  bool takesScreenshots() override { return true; }
  Picture captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) override;
  std::optional<Error> refusesWindows() override;
  std::optional<Error> refusesLeavingOut() override;
  double hostNow() override;
  double wallNow() override;

  // Whether a compositor answers at WAYLAND_DISPLAY, and offers screencopy.
  // The connection stays for the listing and the screenshot.
  WaylandLook look();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
