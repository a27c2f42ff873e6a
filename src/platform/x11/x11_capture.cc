#include "platform/x11/x11_capture.h"

#include <time.h>

namespace platform {

struct X11Capture::State {};

X11Capture::X11Capture() : state_(std::make_unique<State>()) {}
X11Capture::~X11Capture() = default;

bool X11Capture::allowed() { return true; }
uint32_t X11Capture::mainDisplayID() { return 0; }
ShareableContent X11Capture::shareableContent() { throw Error{1, "the X11 listing is not built yet"}; }
std::optional<DisplayMode> X11Capture::displayMode(uint32_t) { return std::nullopt; }
ContentFilter X11Capture::windowFilter(const Window& window) {
  ContentFilter filter;
  filter.kind = ContentFilter::Kind::window;
  filter.window = window;
  filter.contentRect = {0, 0, window.frame.width, window.frame.height};
  return filter;
}
std::unique_ptr<Stream> X11Capture::makeStream(const ContentFilter&, const StreamConfiguration&, StreamDelegate&) {
  return nullptr;
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
