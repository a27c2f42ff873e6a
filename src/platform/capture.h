// The screen capture service as the capture jobs see it: permission, the
// listing of what can be captured, display modes, streams and the host clock.
// One real implementation per backend, one fake for tests; `main` chooses.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/content.h"
#include "platform/picture.h"
#include "platform/stream.h"

namespace platform {

class Capture {
 public:
  virtual ~Capture() = default;

  // Whether this process may capture the screen, without asking anyone.
  virtual bool allowed() = 0;
  virtual uint32_t mainDisplayID() = 0;

  // A progress line on which service serves and what that means; empty when
  // there is nothing to say.
  virtual std::string note() { return {}; }

  // Everything capturable, off-screen windows included. Throws Error.
  virtual ShareableContent shareableContent() = 0;
  // None when the display has no mode to ask.
  virtual std::optional<DisplayMode> displayMode(uint32_t displayID) = 0;
  // The filter of one window alone, with its content rect and pixel scale.
  virtual ContentFilter windowFilter(const Window& window) = 0;

  virtual std::unique_ptr<Stream> makeStream(const ContentFilter& filter,
                                             const StreamConfiguration& configuration,
                                             StreamDelegate& delegate) = 0;

  // Whether one image can be taken without a stream; when not, a screenshot
  // is the first complete frame of a short-lived stream.
  virtual bool takesScreenshots() { return false; }
  // One image of what `filter` shows, as `configuration` says. Throws Error.
  virtual Picture captureImage(const ContentFilter& filter, const StreamConfiguration& configuration);

  // Why this service cannot capture one window (or its application's sound),
  // or leave applications out; none when it can. A job that asks for what
  // cannot be done is refused with this error rather than silently given less.
  virtual std::optional<Error> refusesWindows() { return std::nullopt; }
  virtual std::optional<Error> refusesLeavingOut() { return std::nullopt; }

  // Seconds on the clock of the samples' presentation times.
  virtual double hostNow() = 0;
  // Seconds since 1970-01-01 00:00 UTC.
  virtual double wallNow() = 0;
};

}  // namespace platform
