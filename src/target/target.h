// What the capture jobs capture, shared by the video stream, the screenshot
// and the sound: the display's pixel size, the window named in the options,
// the applications left out, and the display filter with its crop.
#pragma once

#include <vector>

#include "front/options.h"
#include "platform/capture.h"
#include "platform/content.h"

struct PixelSize {
  int64_t width = 0, height = 0;
  double scale = 1;  // pixels per point
};

// The display's current mode, or its point size (scale 1) when it has none.
PixelSize pixelSize(platform::Capture& capture, const platform::Display& display);

// The listed window with options.window; ends the process when there is none.
const platform::Window& chosenWindow(const Options& options, const platform::ShareableContent& content);

// The listed applications whose process is in options.excluded, in order.
std::vector<platform::RunningApplication> excludedApplications(const Options& options,
                                                                const platform::ShareableContent& content);

// Throws the capture service's own error when the options name a window or
// applications to leave out and the service cannot serve that: capturing more
// than was asked would be a silent leak.
void refuseWhatCannotBeServed(const Options& options, platform::Capture& capture);

// The display without the excluded applications, whole or cropped by
// options.crop (display pixels): sets the filter, the size and the source.
void targetDisplay(const Options& options, const platform::ShareableContent& content,
                   const platform::Display& display, const PixelSize& pixels, platform::ContentFilter& filter,
                   platform::StreamConfiguration& configuration);
