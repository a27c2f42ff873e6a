#include "platform/wayland/wayland_capture.h"

#include <time.h>

#include <cstdlib>
#include <mutex>

#include "platform/wayland/connection.h"
#include "platform/wayland/one_shot.h"
#include "platform/wayland/portal/portal_stream.h"
#include "platform/wayland/stream.h"
#include "platform/wayland/target.h"

namespace platform {

// One connection, made on first use, for the look, the listing and the
// screenshot: the entry and the driver reach it from two threads, one at a
// time. Streams have their own, on their own threads.
struct WaylandCapture::State {
  std::mutex lock;
  std::unique_ptr<wayland::Connection> connection;
  std::optional<Error> failure;
  bool portal = false;

  // The connection with what the compositor said so far, or why there is none.
  wayland::Connection& fresh() {
    if (!connection && !failure) {
      try {
        connection = std::make_unique<wayland::Connection>();
      } catch (const Error& error) {
        failure = error;
      }
    } else if (connection && !failure) {
      // Events that came since, without waiting for more.
      if (!connection->dispatch([] { return false; }, wayland::Connection::Clock::now()))
        failure = connection->failure();
    }
    if (failure) throw *failure;
    return *connection;
  }
};

WaylandCapture::WaylandCapture() : state_(std::make_unique<State>()) {}
WaylandCapture::~WaylandCapture() = default;

uint32_t WaylandCapture::mainDisplayID() {
  std::lock_guard lock(state_->lock);
  try {
    auto displays = wayland::displays(state_->fresh().outputs());
    return displays.empty() ? 0 : displays.front().displayID;
  } catch (const Error&) {
    return 0;  // the listing says why
  }
}

ShareableContent WaylandCapture::shareableContent() {
  std::lock_guard lock(state_->lock);
  return {wayland::displays(state_->fresh().outputs()), {}, {}};
}

std::optional<DisplayMode> WaylandCapture::displayMode(uint32_t displayID) {
  std::lock_guard lock(state_->lock);
  if (!state_->connection) return std::nullopt;
  auto output = state_->connection->state(displayID);
  if (!output) return std::nullopt;
  return wayland::pixelSize(*output);
}

ContentFilter WaylandCapture::windowFilter(const Window&) { throw wayland::windowsRefused(); }

std::unique_ptr<Stream> WaylandCapture::makeStream(const ContentFilter& filter,
                                                   const StreamConfiguration& configuration,
                                                   StreamDelegate& delegate) {
  if (state_->portal) {
    wayland::portal::Tokens tokens(wayland::portal::tokenFolder([](const std::string& name) {
      const char* value = getenv(name.c_str());
      return value ? std::optional<std::string>(value) : std::nullopt;
    }));
    return std::make_unique<wayland::portal::PortalStream>(filter, configuration, delegate, std::move(tokens));
  }
  return std::make_unique<wayland::WaylandStream>(filter, configuration, delegate);
}

bool WaylandCapture::takesScreenshots() {
  if (!state_->portal) return true;
  // A screencopy `copy` answers at once even on a still screen, where a
  // portal's stream may send nothing until something changes.
  std::lock_guard lock(state_->lock);
  try {
    return state_->fresh().screencopy() != nullptr;
  } catch (const Error&) {
    return false;  // the stream says why
  }
}

void WaylandCapture::usePortal() { state_->portal = true; }

Picture WaylandCapture::captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) {
  std::lock_guard lock(state_->lock);
  return wayland::oneShot(state_->fresh(), filter, configuration);
}

std::optional<Error> WaylandCapture::refusesWindows() { return wayland::windowsRefused(); }
std::optional<Error> WaylandCapture::refusesLeavingOut() { return wayland::leavingOutRefused(); }

double WaylandCapture::hostNow() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double WaylandCapture::wallNow() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

WaylandLook WaylandCapture::look() {
  std::lock_guard lock(state_->lock);
  try {
    return {true, state_->fresh().screencopy() != nullptr};
  } catch (const Error&) {
    return {false, false};
  }
}

}  // namespace platform
