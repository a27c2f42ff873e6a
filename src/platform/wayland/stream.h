// A display stream on a wlroots compositor: one capture thread with a
// connection of its own. It asks for a copy once per frame interval, and one
// that waits for a change (so a still screen costs no copy); each copy that
// comes is delivered as a complete frame. It stops with an error when the
// output goes away or the compositor's connection breaks.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/content.h"
#include "platform/stream.h"

namespace platform::wayland {

class Connection;
class Screencopy;
class Slots;

class WaylandStream : public Stream {
 public:
  WaylandStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate);
  ~WaylandStream() override;

  std::optional<Error> addStreamOutput(StreamOutput& output, OutputType type,
                                       std::shared_ptr<SerialQueue> queue) override;
  void startCapture(Completion completion) override;
  void stopCapture(Completion completion) override;

 private:

  void run(Completion completion);
  void setUp();
  // Waits for the copy asked for; false when the stream ends.
  bool copied();
  // Handles events until the deadline; false when the stream ends.
  bool waitUntil(std::chrono::steady_clock::time_point deadline);
  void deliver();
  // Tells the delegate once, unless the stream was stopped on purpose.
  void end(const Error& error);
  // Why the stream cannot go on while its output is missing.
  Error gone() const;
  void wakeUp();

  const ContentFilter filter_;
  const StreamConfiguration configuration_;
  StreamDelegate& delegate_;

  StreamOutputs outputs_;

  std::mutex threadLock_;
  std::thread thread_;
  int wake_ = -1;  // an eventfd that wakes the capture thread
  std::atomic<bool> started_ = false, stopping_ = false, ended_ = false;

  // Capture thread only.
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<Screencopy> copies_;
  std::unique_ptr<Slots> slots_;
  int originX_ = 0, originY_ = 0;            // the crop's corner, output pixels
  int copiedWidth_ = 0, copiedHeight_ = 0;  // the size of the last copy
};

}  // namespace platform::wayland
