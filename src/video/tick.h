// The tick paces the video output: every 1/fps second it writes the newest
// frame, whole, to standard output, repeating it while no newer one arrived.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "platform/queue.h"
#include "video/frames.h"

class Tick {
 public:
  Tick(std::shared_ptr<Frames> frames, int fd);

  // Writes the newest frame, if there is one; a failed write ends the process
  // with exit code 0. On one queue only.
  void operator()();

 private:
  void lend(const Frame& frame);

  std::shared_ptr<Frames> frames_;
  int fd_;
  // Into a pipe, a frame's pages are lent to the pipe instead of copied. The
  // reader copies them out later, so each lent frame is held here until a
  // pipe's capacity of bytes has followed it: by then it has been read.
  bool lends_;
  uint64_t capacity_ = 0;
  uint64_t written_ = 0;
  std::deque<std::pair<Frame, uint64_t>> lent_;  // frames and where they end
};

// Starts ticking at `fps` on the queue "pellix.ticks", first tick now; the
// returned queue carries the timer.
std::shared_ptr<platform::SerialQueue> installTick(std::shared_ptr<Frames> frames, int64_t fps);
