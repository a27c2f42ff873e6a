#include "video/stream_video.h"

#include "front/diagnostics.h"
#include "target/target.h"
#include "video/frames.h"
#include "video/tick.h"

namespace {

// Holds the running video job's objects until the process ends.
struct Running {
  std::unique_ptr<platform::Stream> stream;
  std::shared_ptr<Frames> frames;
  std::shared_ptr<platform::SerialQueue> timer;
  std::shared_ptr<platform::SerialQueue> framesQueue;
};
std::optional<Running> running;

}  // namespace

void streamVideo(const Options& options, platform::Capture& capture, const platform::ShareableContent& content,
                 const platform::Display& display) {
  PixelSize pixels = pixelSize(capture, display);
  platform::StreamConfiguration configuration;
  platform::ContentFilter filter;
  bool windowCapture = options.window && options.size;
  if (windowCapture) {
    filter = capture.windowFilter(chosenWindow(options, content));
    configuration.width = int64_t(options.size->width);
    configuration.height = int64_t(options.size->height);
    configuration.ignoreShadowsSingleWindow = true;
    configuration.preservesAspectRatio = true;
  } else {
    targetDisplay(options, content, display, pixels, filter, configuration);
  }
  configuration.pixelFormat = platform::pixelFormatBGRA;
  configuration.colorSpaceName = platform::colorSpaceSRGB;
  configuration.minimumFrameInterval = {1, int32_t(options.fps)};
  configuration.queueDepth = 6;
  configuration.showsCursor = options.cursor;
  configuration.capturesAudio = false;

  int64_t width = configuration.width, height = configuration.height;
  auto frames = std::make_shared<Frames>(width, height, options.verbose);
  auto stream = capture.makeStream(filter, configuration, *frames);
  auto framesQueue = std::make_shared<platform::SerialQueue>("pellix.frames");
  if (auto error = stream->addStreamOutput(*frames, platform::OutputType::screen, framesQueue)) throw *error;
  platform::startAndWait(*stream);
  if (auto note = stream->note(); !note.empty()) say(options.verbose, note);

  std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (windowCapture) {
    say(options.verbose, "capturing window " + std::to_string(*options.window) + " at " + size);
  } else {
    std::vector<std::string> names;
    for (auto& application : filter.applications) names.push_back(application.applicationName);
    say(options.verbose, "capturing " + size + ", leaving out " + quotedList(names));
  }
  auto timer = installTick(frames, options.fps);
  running = Running{std::move(stream), frames, timer, framesQueue};
}
