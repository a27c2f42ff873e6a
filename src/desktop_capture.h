// The screen capture service of the desktop this process runs on: pictures
// from the display server the environment names (chosen on first use, so
// `ocr` touches none), sound from the sound server.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/capture.h"
#include "platform/pulse/pulse_sound.h"

class DesktopCapture : public platform::Capture {
 public:
  bool allowed() override;
  uint32_t mainDisplayID() override;
  platform::ShareableContent shareableContent() override;
  // What the choice of display server means, when it is worth a progress line.
  std::string note() override;
  std::optional<platform::DisplayMode> displayMode(uint32_t displayID) override;
  platform::ContentFilter windowFilter(const platform::Window& window) override;
  // Sound streams go to the sound server, the rest to the display server.
  std::unique_ptr<platform::Stream> makeStream(const platform::ContentFilter& filter,
                                               const platform::StreamConfiguration& configuration,
                                               platform::StreamDelegate& delegate) override;
  bool takesScreenshots() override;
  platform::Picture captureImage(const platform::ContentFilter& filter,
                                 const platform::StreamConfiguration& configuration) override;
  std::optional<platform::Error> refusesWindows() override;
  std::optional<platform::Error> refusesLeavingOut() override;
  double hostNow() override;
  double wallNow() override;

 private:
  platform::Capture& pictures();

  std::once_flag chosen_;
  std::unique_ptr<platform::Capture> pictures_;
  std::string note_;
  platform::PulseSound sound_;
};
