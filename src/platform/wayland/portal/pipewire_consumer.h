// The frames of one PipeWire video node, as a consumer on a thread loop of
// its own ("pellix.portal"): it offers BGRx and BGRA in memory it can map
// (MemFd, MemPtr), asks for each buffer's header and damage, and hands over
// every buffer that is neither corrupted nor empty, with what changed since
// the last one it handed over.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error.h"
#include "platform/wayland/pixels.h"

struct pw_thread_loop;

namespace platform::wayland::portal {

class PipewireConsumer {
 public:
  struct Events {
    // A frame: its pixels (valid during the call), and the boxes that
    // changed since the last frame (buffer pixels), none when all may have.
    std::function<void(const ScreenBuffer& buffer, const std::optional<std::vector<Box>>& damage)> frame;
    // The stream ended: PipeWire went away, the node is gone or failed.
    std::function<void(const Error& error)> stopped;
    // The watched descriptor has something to read (see watch).
    std::function<void()> readable;
  };

  // Connects on the remote `fd` (taken over) to `node`, asking for frames at
  // up to `fps`. Events run on the loop's thread. Throws Error (failedToStart).
  PipewireConsumer(int fd, uint32_t node, int fps, Events events);
  // Stops the loop and disconnects.
  ~PipewireConsumer();
  PipewireConsumer(const PipewireConsumer&) = delete;
  PipewireConsumer& operator=(const PipewireConsumer&) = delete;

  // Calls events.readable on the loop's thread whenever `fd` can be read.
  void watch(int fd);
  // Stops delivering; no event runs once this returns. Any thread but the loop's.
  void stop();

 private:
  struct State;
  void connect(int fd, int fps);
  // Stops the loop's thread and frees what it used; once.
  void tearDown();
  std::unique_ptr<State> state_;
};

}  // namespace platform::wayland::portal
