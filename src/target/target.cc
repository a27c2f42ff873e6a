#include "target/target.h"

#include <cmath>

#include "front/diagnostics.h"

PixelSize pixelSize(platform::Capture& capture, const platform::Display& display) {
  auto mode = capture.displayMode(display.displayID);
  if (!mode) return {display.width, display.height, 1};
  return {mode->pixelWidth, mode->pixelHeight, double(mode->pixelWidth) / double(display.width)};
}

const platform::Window& chosenWindow(const Options& options, const platform::ShareableContent& content) {
  for (auto& window : content.windows)
    if (window.windowID == *options.window) return window;
  fail(2, "there is no window " + std::to_string(*options.window) + " (closed, or on another desktop)");
}

std::vector<platform::RunningApplication> excludedApplications(const Options& options,
                                                                const platform::ShareableContent& content) {
  std::vector<platform::RunningApplication> excluded;
  for (auto& application : content.applications)
    if (options.excluded.count(application.processID)) excluded.push_back(application);
  return excluded;
}

void refuseWhatCannotBeServed(const Options& options, platform::Capture& capture) {
  if (options.window)
    if (auto refusal = capture.refusesWindows()) throw *refusal;
  if (!options.excluded.empty())
    if (auto refusal = capture.refusesLeavingOut()) throw *refusal;
}

void targetDisplay(const Options& options, const platform::ShareableContent& content,
                   const platform::Display& display, const PixelSize& pixels, platform::ContentFilter& filter,
                   platform::StreamConfiguration& configuration) {
  filter = platform::ContentFilter::excluding(display, excludedApplications(options, content));
  if (!options.crop) {
    configuration.width = pixels.width;
    configuration.height = pixels.height;
    return;
  }
  auto [x, y, w, h] = *options.crop;
  double left = std::min(x, x + w), top = std::min(y, y + h);
  double width = std::fabs(w), height = std::fabs(h);
  double scale = pixels.scale;
  configuration.sourceRect = platform::Rect{left / scale, top / scale, width / scale, height / scale};
  configuration.width = int64_t(width);
  configuration.height = int64_t(height);
}
