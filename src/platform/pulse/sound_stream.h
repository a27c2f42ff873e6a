// A sound stream on a PulseAudio server; see PulseSound for what it records.
// The server's main loop runs on a thread of its own, which also delivers the
// stream's outcomes: the start completion and a lost connection.
#pragma once

#include <pulse/pulseaudio.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/content.h"
#include "platform/pulse/mixer.h"
#include "platform/pulse/monitor.h"
#include "platform/pulse/recording_plan.h"
#include "platform/stream.h"

namespace platform::pulse {

class SoundStream : public Stream {
 public:
  SoundStream(const ContentFilter& filter, StreamDelegate& delegate);
  ~SoundStream() override;

  // Before startCapture only.
  std::optional<Error> addStreamOutput(StreamOutput& output, OutputType type,
                                       std::shared_ptr<SerialQueue> queue) override;
  void startCapture(Completion completion) override;
  void stopCapture(Completion completion) override;

 private:
  // Everything below runs on the main loop's thread.
  static void contextChanged(pa_context* context, void* self);
  static void serverChanged(pa_context* context, pa_subscription_event_type_t event, uint32_t index, void* self);
  void finishStart(std::optional<Error> error);
  void stopWith(const std::string& why);

  // Gathers what the server has now (the default sink, the sinks, their
  // inputs), then opens and closes monitors to match the recording's plan.
  void rescan();
  void rescanSoon();
  void match();
  void open(uint32_t key, const std::string& source);
  void monitorEnded(uint32_t key);

  void deliver(Chunk chunk, bool first);
  void mixSome();

  StreamDelegate& delegate_;
  const Recording recording_;
  // Whole-display sound comes straight from the default sink's monitor;
  // anything narrower is mixed from the chosen sink inputs.
  const bool mixing_;
  struct Output {
    StreamOutput* output;
    std::shared_ptr<SerialQueue> queue;
  };
  std::vector<Output> outputs_;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  Completion starting_;
  bool started_ = false;

  std::map<uint32_t, std::unique_ptr<Monitor>> monitors_;
  Mixer mixer_;
  bool firstMix_ = true;
  pa_time_event* mixTimer_ = nullptr;
  pa_time_event* rescanTimer_ = nullptr;

  // The scan in progress.
  bool scanning_ = false, scanAgain_ = false;
  ServerFacts facts_;
};

}  // namespace platform::pulse
