// Copies of one output through the screencopy protocol into shared memory of
// ours: the compositor names the buffer it can fill, we hand it one, and it
// fills it at once (`copy`) or once the output has changed (`copy_with_damage`,
// which also says what changed). One copy at a time.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/error.h"
#include "platform/wayland/connection.h"
#include "platform/wayland/pixels.h"

struct zwlr_screencopy_frame_v1;

namespace platform::wayland {

class Screencopy {
 public:
  // Copies of `output` (the pointer drawn in with `cursor`) on `connection`,
  // which must offer screencopy and outlive this.
  Screencopy(Connection& connection, wl_output* output, bool cursor);
  ~Screencopy();
  Screencopy(const Screencopy&) = delete;
  Screencopy& operator=(const Screencopy&) = delete;

  // Asks for one copy; with `afterChange`, one that waits for a change.
  void request(bool afterChange);
  enum class State { idle, waiting, ready, failed };
  State state() const { return state_; }
  // Once ready: the filled buffer (valid until the next request), and what
  // changed since the last copy (buffer coordinates; the whole buffer first).
  ScreenBuffer buffer() const;
  const std::vector<Box>& damage() const { return damage_; }
  // Once failed: why, when the compositor's answer says more than that it failed.
  const std::optional<Error>& problem() const { return problem_; }

 private:
  struct Shm;
  struct Listeners;
  void offered(uint32_t format, uint32_t width, uint32_t height, uint32_t stride);
  void copy();
  void finish(State state);

  Connection& connection_;
  wl_output* output_;
  bool cursor_;
  zwlr_screencopy_frame_v1* frame_ = nullptr;
  bool afterChange_ = false;
  State state_ = State::idle;
  std::unique_ptr<Shm> shm_;
  struct Offer {
    uint32_t format = 0, width = 0, height = 0, stride = 0;
  };
  std::vector<Offer> offers_;
  bool yInvert_ = false;
  std::vector<Box> damage_;
  std::optional<Error> problem_;
};

}  // namespace platform::wayland
