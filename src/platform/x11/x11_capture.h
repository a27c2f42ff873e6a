// The screen capture service on the X server named by $DISPLAY. It connects
// on first use, so a process that never captures never touches the server.
#pragma once

#include <memory>

#include "platform/capture.h"

namespace platform {

class X11Capture : public Capture {
 public:
  X11Capture();
  ~X11Capture() override;

  bool allowed() override;
  uint32_t mainDisplayID() override;
  ShareableContent shareableContent() override;
  std::optional<DisplayMode> displayMode(uint32_t displayID) override;
  ContentFilter windowFilter(const Window& window) override;
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                     StreamDelegate& delegate) override;
  bool takesScreenshots() override { return true; }
  Picture captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) override;
  double hostNow() override;
  double wallNow() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
