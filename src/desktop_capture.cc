#include "desktop_capture.h"

#include <cstdlib>

#include "platform/backend.h"
#include "platform/wayland/wayland_capture.h"
#include "platform/x11/x11_capture.h"

namespace {

// What serves when no display server can: every capture fails with why.
class NoCapture : public platform::Capture {
 public:
  explicit NoCapture(std::string why) : why_(std::move(why)) {}
  bool allowed() override { return true; }
  uint32_t mainDisplayID() override { return 0; }
  platform::ShareableContent shareableContent() override { throw platform::Error{platform::failedToStart, why_}; }
  std::optional<platform::DisplayMode> displayMode(uint32_t) override { return std::nullopt; }
  platform::ContentFilter windowFilter(const platform::Window&) override { throw platform::Error{platform::failedToStart, why_}; }
  std::unique_ptr<platform::Stream> makeStream(const platform::ContentFilter&, const platform::StreamConfiguration&,
                                               platform::StreamDelegate&) override {
    throw platform::Error{platform::failedToStart, why_};
  }
  double hostNow() override { return 0; }
  double wallNow() override { return 0; }

 private:
  std::string why_;
};

std::optional<std::string> variable(const std::string& name) {
  const char* value = getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

platform::Capture& DesktopCapture::pictures() {
  std::call_once(chosen_, [this] {
    // The look's connection serves the listing afterwards.
    auto wayland = std::make_unique<platform::WaylandCapture>();
    auto choice = platform::chooseBackend(variable, [&] { return wayland->look(); });
    note_ = choice.note;
    if (choice.backend == platform::Backend::portal) wayland->usePortal();
    if (choice.backend == platform::Backend::wayland || choice.backend == platform::Backend::portal)
      pictures_ = std::move(wayland);
    else if (choice.backend == platform::Backend::x11)
      pictures_ = std::make_unique<platform::X11Capture>();
    else
      pictures_ = std::make_unique<NoCapture>(choice.problem);
  });
  return *pictures_;
}

bool DesktopCapture::allowed() { return pictures().allowed(); }
uint32_t DesktopCapture::mainDisplayID() { return pictures().mainDisplayID(); }

platform::ShareableContent DesktopCapture::shareableContent() { return pictures().shareableContent(); }

std::string DesktopCapture::note() {
  pictures();
  return note_;
}

std::optional<platform::DisplayMode> DesktopCapture::displayMode(uint32_t displayID) {
  return pictures().displayMode(displayID);
}

platform::ContentFilter DesktopCapture::windowFilter(const platform::Window& window) {
  return pictures().windowFilter(window);
}

std::unique_ptr<platform::Stream> DesktopCapture::makeStream(const platform::ContentFilter& filter,
                                                             const platform::StreamConfiguration& configuration,
                                                             platform::StreamDelegate& delegate) {
  if (configuration.capturesAudio) return sound_.makeStream(filter, configuration, delegate);
  return pictures().makeStream(filter, configuration, delegate);
}

bool DesktopCapture::takesScreenshots() { return pictures().takesScreenshots(); }

platform::Picture DesktopCapture::captureImage(const platform::ContentFilter& filter,
                                               const platform::StreamConfiguration& configuration) {
  return pictures().captureImage(filter, configuration);
}

std::optional<platform::Error> DesktopCapture::refusesWindows() { return pictures().refusesWindows(); }
std::optional<platform::Error> DesktopCapture::refusesLeavingOut() { return pictures().refusesLeavingOut(); }
double DesktopCapture::hostNow() { return pictures().hostNow(); }
double DesktopCapture::wallNow() { return pictures().wallNow(); }
