#include "shot/take_shot.h"

#include <unistd.h>

#include <cmath>

#include "front/answer.h"
#include "front/diagnostics.h"
#include "shot/first_frame.h"
#include "target/target.h"

namespace {

// The first complete frame of a short-lived stream.
platform::Picture firstFrame(platform::Capture& capture, const platform::ContentFilter& filter,
                             const platform::StreamConfiguration& configuration) {
  // Kept to the end of the process: late callbacks may still reach it.
  static FirstFrame waiter;
  static std::unique_ptr<platform::Stream> stream;
  stream = capture.makeStream(filter, configuration, waiter);
  auto queue = std::make_shared<platform::SerialQueue>("pellix.shot");
  if (auto error = stream->addStreamOutput(waiter, platform::OutputType::screen, queue)) throw *error;
  platform::Picture image = waiter.wait(*stream);
  std::promise<void> stopped;
  stream->stopCapture([&stopped](std::optional<platform::Error>) { stopped.set_value(); });
  stopped.get_future().wait();
  return image;
}

}  // namespace

void takeShot(const Options& options, platform::Capture& capture, platform::PictureFiles& pictures,
              const platform::ShareableContent& content, const platform::Display& display) {
  PixelSize pixels = pixelSize(capture, display);
  double scale = pixels.scale;
  platform::StreamConfiguration configuration;
  platform::ContentFilter filter;
  if (options.window) {
    // The window at its own size, in its own scale.
    filter = capture.windowFilter(chosenWindow(options, content));
    scale = double(filter.pointPixelScale);
    configuration.ignoreShadowsSingleWindow = true;
    configuration.width = int64_t(std::round(filter.contentRect.width * scale));
    configuration.height = int64_t(std::round(filter.contentRect.height * scale));
  } else {
    targetDisplay(options, content, display, pixels, filter, configuration);
  }
  configuration.pixelFormat = platform::pixelFormatBGRA;
  configuration.colorSpaceName = platform::colorSpaceSRGB;
  configuration.showsCursor = options.cursor;
  configuration.capturesAudio = false;

  platform::Picture image = capture.takesScreenshots() ? capture.captureImage(filter, configuration)
                                                      : firstFrame(capture, filter, configuration);

  if (!pictures.writePNG(*options.out, image, 72 * scale)) fail(2, "cannot write " + *options.out);
  answer({{"width", image.width}, {"height", image.height}, {"scale", scale}});
  _exit(0);
}
