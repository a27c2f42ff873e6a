// The tick paces the video output: every 1/fps second it writes the newest
// frame, whole, to standard output, repeating it while no newer one arrived.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/queue.h"
#include "video/frames.h"

class Tick {
 public:
  // Grows a pipe on `fd` to take more of a frame per call; never shrinks one.
  Tick(std::shared_ptr<Frames> frames, int fd);

  // Writes the newest frame, if there is one; a failed write ends the process
  // with exit code 0. On one queue only.
  void operator()();

 private:
  void lend(const Frame& frame);

  std::shared_ptr<Frames> frames_;
  int fd_;
  // Into a pipe, a frame's pages are lent to the pipe instead of copied. A
  // stored frame never changes and its memory never holds another frame, so
  // nothing needs to be held here for the reader, whatever it does.
  bool lends_;
};

// The timer's interval for `fps` frames a second: 1/fps second, truncated to
// whole nanoseconds, and never shorter than one (any faster rate ticks as
// fast as the writes go).
std::chrono::nanoseconds tickInterval(int64_t fps);

// Starts ticking at `fps` on the queue "pellix.ticks", first tick now; the
// returned queue carries the timer.
std::shared_ptr<platform::SerialQueue> installTick(std::shared_ptr<Frames> frames, int64_t fps);
