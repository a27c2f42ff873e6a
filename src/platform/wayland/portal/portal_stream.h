// A display stream through the desktop's screencast portal: the portal asks
// the user (once, when it keeps the choice: see tokens.h), and its PipeWire
// stream delivers the frames, only when the screen changes. Where the
// compositor offers screencopy, the first frame is copied from there at
// once, so a still screen shows from the start. It stops with an error when
// the desktop closes the session, the stream's node goes away or PipeWire
// does.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/content.h"
#include "platform/stream.h"
#include "platform/wayland/pixels.h"
#include "platform/wayland/portal/stream_match.h"
#include "platform/wayland/portal/tokens.h"

namespace platform::wayland {
class Connection;
class Slots;
}  // namespace platform::wayland

namespace platform::wayland::portal {

class PipewireConsumer;
class ScreencastPortal;

class PortalStream : public Stream {
 public:
  PortalStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate, Tokens tokens);
  ~PortalStream() override;

  std::optional<Error> addStreamOutput(StreamOutput& output, OutputType type,
                                       std::shared_ptr<SerialQueue> queue) override;
  // The portal is asked on a thread of the stream's; the completion runs
  // there once frames can come (the first one may come before).
  void startCapture(Completion completion) override;
  void stopCapture(Completion completion) override;
  std::string note() override;

 private:

  void setUp();
  // The display the portal's stream shows: the one it matches, else the main one.
  Display sharedDisplay(const SharedStream& stream, const std::vector<Display>& displays);
  // Keeps the portal's new token for the display shown, or forgets the spent one.
  void keepToken(const std::optional<std::string>& token, uint32_t shown, uint32_t asked);
  void addNote(const std::string& line);
  void copyFirstFrame(Connection& connection, uint32_t displayID);
  // Packs `buffer` into a free slot and hands it to the outputs.
  void deliver(const ScreenBuffer& buffer, const std::optional<std::vector<Box>>& damage);
  // Tells the delegate once, unless the stream was stopped on purpose.
  void end(const Error& error);

  const ContentFilter filter_;
  const StreamConfiguration configuration_;
  StreamDelegate& delegate_;
  const Tokens tokens_;

  StreamOutputs outputs_;

  std::mutex lock_;  // guards the set-up thread and the stop
  std::thread setUpThread_;
  std::mutex noteLock_;
  std::string note_;
  std::atomic<bool> started_ = false, stopping_ = false, ended_ = false;

  // The set-up thread's, then the consumer's thread's.
  std::unique_ptr<ScreencastPortal> portal_;
  std::unique_ptr<PipewireConsumer> consumer_;
  std::unique_ptr<Slots> slots_;
  uint32_t node_ = 0;
  Box area_;                                 // output pixels the frames show
  int deliveredWidth_ = 0, deliveredHeight_ = 0;  // the size of the last buffer
  // What changed since the last frame handed out; none: unknown, all of it.
  std::optional<Box> unhanded_;
};

}  // namespace platform::wayland::portal
