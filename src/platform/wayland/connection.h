// One connection to the Wayland compositor named by WAYLAND_DISPLAY, with the
// globals this backend binds (wl_shm, xdg-output, screencopy) and what the
// compositor says of each output. A Connection serves one thread at a time:
// the listing has one, each stream and each screenshot their own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error.h"
#include "platform/wayland/outputs.h"

struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_shm;
struct zwlr_screencopy_manager_v1;
struct zxdg_output_manager_v1;

namespace platform::wayland {

// The compositor's socket, as WAYLAND_DISPLAY names it ("wayland-1", or a path).
std::string socketName();

class Connection {
 public:
  using Clock = std::chrono::steady_clock;

  // Connects and learns the globals and the outputs. Throws Error
  // (failedToStart) when no compositor answers.
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  wl_display* display() const { return display_; }
  wl_shm* shm() const { return shm_; }
  // Null when the compositor does not offer it (or offers only version 1,
  // which cannot wait for changes).
  zwlr_screencopy_manager_v1* screencopy() const { return screencopy_; }

  // The outputs the compositor has described, in its order.
  std::vector<OutputState> outputs() const;
  // The output shown as `displayID`, or null when there is none (unplugged).
  wl_output* output(uint32_t displayID) const;
  std::optional<OutputState> state(uint32_t displayID) const;

  // Sends what is queued, then handles events until `done()` holds, the
  // deadline passes or `wake` (a descriptor, -1 for none) is readable. False
  // when the connection broke: `failure()` says how.
  bool dispatch(const std::function<bool()>& done, std::optional<Clock::time_point> deadline = std::nullopt,
                int wake = -1);
  // Waits until the compositor has answered everything sent so far.
  bool roundtrip();
  Error failure() const;

 private:
  struct Output;
  struct Listeners;
  Output* find(uint32_t displayID) const;

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_shm* shm_ = nullptr;
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  zwlr_screencopy_manager_v1* screencopy_ = nullptr;
  std::vector<std::unique_ptr<Output>> outputs_;
};

}  // namespace platform::wayland
