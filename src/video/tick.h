// The tick paces the video output: every 1/fps second it writes the newest
// frame, whole, to standard output, repeating it while no newer one arrived.
#pragma once

#include <memory>

#include "platform/queue.h"
#include "video/frames.h"

// Writes the newest frame of `frames` to `fd`, if there is one; a failed write
// ends the process with exit code 0.
void tick(Frames& frames, int fd);

// Starts ticking at `fps` on the queue "pellix.ticks", first tick now; the
// returned queue carries the timer.
std::shared_ptr<platform::SerialQueue> installTick(std::shared_ptr<Frames> frames, int64_t fps);
