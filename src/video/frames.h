// The video stream's sink: packs each complete frame the stream delivers into
// width x height x 4 bytes of BGRA and keeps it as the newest frame. A stored
// frame is never changed; readers share it until the last one lets go, and
// its memory is never used for another frame (see platform/frame_memory.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/frame_memory.h"
#include "platform/stream.h"

using FrameBytes = std::vector<uint8_t, platform::FrameAllocator<uint8_t>>;
using Frame = std::shared_ptr<const FrameBytes>;

class Frames : public platform::StreamOutput, public platform::StreamDelegate {
 public:
  // With `verbose`, says when the first frame comes.
  Frames(int64_t width, int64_t height, bool verbose = false);

  // The newest packed frame, or none before the first; any thread.
  Frame newest();

  // On the frames queue.
  void stream(platform::Stream& stream, const platform::SampleBuffer& sample, platform::OutputType type) override;
  // Ends the process: "the capture stopped: <description>", exit code 2.
  void streamDidStop(platform::Stream& stream, const platform::Error& error) override;

  const int64_t width;
  const int64_t height;

 private:
  bool latestIsEmpty();

  const bool verbose_;
  std::mutex lock_;
  Frame latest_;  // guarded by lock_
};
