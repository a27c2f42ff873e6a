// A screen capture stream on the X server: one capture thread with a
// connection of its own, paced by the minimum frame interval. Each tick
// delivers a complete frame when the source or the pointer changed (and a
// buffer is free), else an idle one without pixels.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/stream.h"
#include "platform/x11/buffers.h"
#include "platform/x11/painter.h"

namespace platform::x11 {

class X11Stream : public Stream {
 public:
  // `display` names the X server (empty: $DISPLAY).
  X11Stream(std::string display, ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate);
  ~X11Stream() override;

  std::optional<Error> addStreamOutput(StreamOutput& output, OutputType type,
                                       std::shared_ptr<SerialQueue> queue) override;
  void startCapture(Completion completion) override;
  void stopCapture(Completion completion) override;

 private:

  void run(Completion completion);
  std::optional<Error> setUp();
  // Handles events until `deadline` (or, with `orChange`, until the source
  // changes); false when the stream ends.
  bool waitUntil(std::chrono::steady_clock::time_point deadline, bool orChange = false);
  // Delivers one frame: complete, idle, or none (every buffer held, or the
  // grab failed); says which.
  enum class Made { complete, idle, none };
  Made frame();
  // `changed`: where the picture may differ from the last one delivered.
  void deliver(FrameStatus status, std::optional<PixelBuffer> pixels, std::optional<Box> changed = std::nullopt);
  // Tells the delegate once, unless the stream was stopped on purpose.
  void end(const Error& error);

  const std::string display_;
  const ContentFilter filter_;
  const StreamConfiguration configuration_;
  StreamDelegate& delegate_;

  StreamOutputs outputs_;

  std::mutex threadLock_;
  std::thread thread_;
  int wake_ = -1;  // an eventfd that wakes the capture thread
  std::atomic<bool> started_ = false, stopping_ = false, ended_ = false;

  // Capture thread only.
  std::unique_ptr<Painter> painter_;
  std::unique_ptr<BufferPool> pool_;
};

}  // namespace platform::x11
