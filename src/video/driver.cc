#include "video/driver.h"

#include "front/diagnostics.h"
#include "front/globals.h"
#include "shot/take_shot.h"
#include "sound/start_sound.h"
#include "video/frames.h"
#include "video/list.h"
#include "video/target.h"
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

void streamVideo(const platform::ShareableContent& content, const platform::Display& display) {
  PixelSize pixels = pixelSize(display);
  platform::StreamConfiguration configuration;
  platform::ContentFilter filter;
  bool windowCapture = options.window && options.size;
  if (windowCapture) {
    filter = capture->windowFilter(chosenWindow(content));
    configuration.width = int64_t(options.size->width);
    configuration.height = int64_t(options.size->height);
    configuration.ignoreShadowsSingleWindow = true;
    configuration.preservesAspectRatio = true;
  } else {
    targetDisplay(content, display, pixels, filter, configuration);
  }
  configuration.pixelFormat = platform::pixelFormatBGRA;
  configuration.colorSpaceName = platform::colorSpaceSRGB;
  configuration.minimumFrameInterval = {1, int32_t(options.fps)};
  configuration.queueDepth = 6;
  configuration.showsCursor = options.cursor;
  configuration.capturesAudio = false;

  int64_t width = configuration.width, height = configuration.height;
  auto frames = std::make_shared<Frames>(width, height);
  auto stream = capture->makeStream(filter, configuration, *frames);
  auto framesQueue = std::make_shared<platform::SerialQueue>("pellix.frames");
  if (auto error = stream->addStreamOutput(*frames, platform::OutputType::screen, framesQueue)) throw *error;
  platform::startAndWait(*stream);

  std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (windowCapture) {
    say("capturing window " + std::to_string(*options.window) + " at " + size);
  } else {
    std::vector<std::string> names;
    for (auto& application : filter.applications) names.push_back(application.applicationName);
    say("capturing " + size + ", leaving out " + quotedList(names));
  }
  auto timer = installTick(frames, options.fps);
  running = Running{std::move(stream), frames, timer, framesQueue};
}

void run() {
  say("listing the displays");
  auto content = capture->shareableContent();
  say(std::to_string(content.displays.size()) + " displays, " + std::to_string(content.applications.size()) +
      " apps");
  if (listing) listContent(content);
  const platform::Display* display = nullptr;
  for (auto& d : content.displays)
    if (d.displayID == options.display) {
      display = &d;
      break;
    }
  if (!display) fail(2, "there is no display " + std::to_string(options.display));
  if (audio) return startSound(content, *display);
  if (shot) takeShot(content, *display);
  streamVideo(content, *display);
}

}  // namespace

void drive() {
  try {
    run();
  } catch (const platform::Error& error) {
    fail(error.code == platform::userDeclined ? 3 : 2, "the capture could not start: " + error.description);
  } catch (const std::exception& failure) {
    // Memory or a thread that the system would not give.
    fail(2, "the capture could not start: " + std::string(describeFailure(failure)));
  }
}
