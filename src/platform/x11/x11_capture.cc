#include "platform/x11/x11_capture.h"

#include <time.h>

#include <mutex>

#include "platform/x11/connection.h"
#include "platform/x11/displays.h"
#include "platform/x11/listing.h"
#include "platform/x11/one_shot.h"
#include "platform/x11/stream.h"

namespace platform {

// The connection of the listing and the permission check, made on first use
// and then shared by every thread.
struct X11Capture::State {
  std::once_flag connecting;
  std::shared_ptr<x11::Connection> connection;

  x11::Connection& connect() {
    // The first connection happens before the tool writes anything, so
    // catching what libxcb writes on standard error is safe.
    std::call_once(connecting, [this] { connection = std::make_shared<x11::Connection>("", true); });
    return *connection;
  }

  // The connection, or the reason there is none.
  x11::Connection& usable() {
    auto& c = connect();
    if (c.reach() != x11::Reach::accepted || c.broken()) throw c.failure();
    return c;
  }
};

X11Capture::X11Capture() : state_(std::make_unique<State>()) {}
X11Capture::~X11Capture() = default;

// Yes unless a server is there and refuses us: with no server at all, the
// listing says why the capture cannot start.
bool X11Capture::allowed() { return state_->connect().reach() != x11::Reach::refused; }

uint32_t X11Capture::mainDisplayID() {
  auto& c = state_->connect();
  if (c.reach() != x11::Reach::accepted) return 0;
  return x11::mainDisplay(x11::monitors(c));
}

ShareableContent X11Capture::shareableContent() { return x11::listing(state_->usable()); }

std::optional<DisplayMode> X11Capture::displayMode(uint32_t displayID) {
  auto& c = state_->connect();
  if (c.reach() != x11::Reach::accepted) return std::nullopt;
  for (auto& m : x11::monitors(c))
    if (m.display.displayID == displayID) return DisplayMode{m.display.width, m.display.height};
  return std::nullopt;
}

ContentFilter X11Capture::windowFilter(const Window& window) {
  ContentFilter filter;
  filter.kind = ContentFilter::Kind::window;
  filter.window = window;
  filter.contentRect = {0, 0, window.frame.width, window.frame.height};
  filter.pointPixelScale = 1;
  return filter;
}

std::unique_ptr<Stream> X11Capture::makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                               StreamDelegate& delegate) {
  // Streams connect on their own, to the server the listing uses.
  return std::make_unique<x11::X11Stream>(state_->connect().display(), filter, configuration, delegate);
}

Picture X11Capture::captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) {
  // Like a stream, on a connection of its own to the listing's server.
  return x11::oneShot(state_->connect().display(), filter, configuration);
}

double X11Capture::hostNow() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double X11Capture::wallNow() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace platform
