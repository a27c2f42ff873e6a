// The sound half of the capture service, on the PulseAudio server that the
// environment names (PipeWire answers the same way). Its streams deliver
// 48 kHz float stereo audio sample buffers stamped with CLOCK_MONOTONIC
// seconds; screen outputs get nothing.
#pragma once

#include <memory>

#include "platform/content.h"
#include "platform/stream.h"

namespace platform {

class PulseSound {
 public:
  // A display filter without applications records the default sink's monitor;
  // one that includes applications records only their sink inputs (child
  // processes included); one that excludes applications records the default
  // sink's other inputs. Inputs that come and go are followed.
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                     StreamDelegate& delegate);
};

}  // namespace platform
