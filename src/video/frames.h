// The video stream's sink: packs each complete frame the stream delivers into
// width x height x 4 bytes of BGRA and keeps it as the newest frame. A stored
// frame is never changed; readers share it until the last one lets go (see
// video/packed_frame.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/stream.h"
#include "video/packed_frame.h"

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
  const bool verbose_;
  std::mutex lock_;
  Frame latest_;  // guarded by lock_
  // The size of the buffer the newest frame came from; on the frames queue.
  size_t bufferWidth_ = 0, bufferHeight_ = 0;
};
