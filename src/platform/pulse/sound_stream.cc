#include "platform/pulse/sound_stream.h"

#include <unistd.h>

#include <utility>

#include "platform/pulse/process_tree.h"

namespace platform::pulse {

namespace {

constexpr double rate = 48000;
// How long mixed sound waits for the slowest recording before it goes out.
constexpr double mixDelay = 0.03;
constexpr pa_usec_t mixPeriod = 10000;
// A recording that ended is looked for again after this long.
constexpr pa_usec_t retryDelay = 100000;

const AudioStreamBasicDescription floatStereo{
    rate, formatLinearPCM, formatFlagIsFloat | formatFlagIsPacked, 8, 1, 8, 2, 32, 0};

std::string why(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

Recording recordingOf(const ContentFilter& filter) {
  Recording recording{Recording::Kind::wholeSink, {}, getpid()};
  for (auto& application : filter.applications) recording.applications.insert(application.processID);
  if (!recording.applications.empty())
    recording.kind = filter.kind == ContentFilter::Kind::displayIncluding ? Recording::Kind::including
                                                                          : Recording::Kind::excluding;
  return recording;
}

// Holds the main loop's lock in scope: calls from other threads need it.
class Locked {
 public:
  explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~Locked() { pa_threaded_mainloop_unlock(loop_); }

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace

SoundStream::SoundStream(const ContentFilter& filter, StreamDelegate& delegate)
    : delegate_(delegate),
      recording_(recordingOf(filter)),
      mixing_(recording_.kind != Recording::Kind::wholeSink),
      mixer_(rate) {
  loop_ = pa_threaded_mainloop_new();
}

SoundStream::~SoundStream() {
  pa_threaded_mainloop_stop(loop_);
  monitors_.clear();
  if (context_) {
    auto* api = pa_threaded_mainloop_get_api(loop_);
    if (mixTimer_) api->time_free(mixTimer_);
    if (rescanTimer_) api->time_free(rescanTimer_);
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  pa_threaded_mainloop_free(loop_);
}

std::optional<Error> SoundStream::addStreamOutput(StreamOutput& output, OutputType type,
                                                  std::shared_ptr<SerialQueue> queue) {
  // Screen outputs are accepted and get nothing: there is no picture here.
  if (type == OutputType::audio) outputs_.push_back({&output, std::move(queue)});
  return std::nullopt;
}

void SoundStream::startCapture(Completion completion) {
  starting_ = std::move(completion);
  if (pa_threaded_mainloop_start(loop_) < 0) return finishStart(Error{2, "cannot start the sound thread"});
  Locked locked(loop_);
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "pellix-capture");
  pa_context_set_state_callback(context_, contextChanged, this);
  // Never start a sound server of our own: no server is an error to report.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    finishStart(Error{failedToStart, "no sound server answers: " + why(context_)});
}

void SoundStream::stopCapture(Completion completion) {
  {
    Locked locked(loop_);
    monitors_.clear();
    started_ = false;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
  }
  completion(std::nullopt);
}

void SoundStream::finishStart(std::optional<Error> error) {
  if (!starting_) return;
  started_ = !error;
  auto completion = std::move(starting_);
  starting_ = nullptr;
  if (started_ && mixing_) {
    // The mix begins with the stream: after the writer's frame 0.
    mixer_.take(hostSeconds());
    mixTimer_ = pa_context_rttime_new(context_, pa_rtclock_now() + mixPeriod, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
      static_cast<SoundStream*>(self)->mixSome();
    }, this);
  }
  completion(std::move(error));
}

void SoundStream::stopWith(const std::string& reason) {
  if (!started_) return finishStart(Error{failedToStart, reason});
  started_ = false;
  delegate_.streamDidStop(*this, Error{streamStopped, reason});
}

void SoundStream::contextChanged(pa_context* context, void* self) {
  auto* stream = static_cast<SoundStream*>(self);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      pa_context_set_subscribe_callback(context, serverChanged, stream);
      if (auto* operation = pa_context_subscribe(
              context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SINK |
                                              PA_SUBSCRIPTION_MASK_SERVER),
              nullptr, nullptr))
        pa_operation_unref(operation);
      stream->rescan();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      if (stream->started_)
        stream->stopWith("the connection to the sound server was lost: " + why(context));
      else
        stream->finishStart(Error{failedToStart, "no sound server answers: " + why(context)});
      break;
    default:
      break;
  }
}

void SoundStream::serverChanged(pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
  static_cast<SoundStream*>(self)->rescan();
}

void SoundStream::rescanSoon() {
  if (rescanTimer_) return;
  rescanTimer_ = pa_context_rttime_new(context_, pa_rtclock_now() + retryDelay, [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
    auto* stream = static_cast<SoundStream*>(self);
    api->time_free(event);
    stream->rescanTimer_ = nullptr;
    stream->rescan();
  }, this);
}

void SoundStream::rescan() {
  if (scanning_) {
    scanAgain_ = true;
    return;
  }
  scanning_ = true;
  facts_ = ServerFacts{};
  auto serverInfo = [](pa_context* context, const pa_server_info* info, void* self) {
    auto* stream = static_cast<SoundStream*>(self);
    stream->facts_.defaultSink = info && info->default_sink_name ? info->default_sink_name : "";
    auto sinkInfo = [](pa_context* context, const pa_sink_info* sink, int last, void* self) {
      auto* stream = static_cast<SoundStream*>(self);
      if (sink)
        stream->facts_.sinks.push_back(
            {sink->index, sink->name ? sink->name : "", sink->monitor_source_name ? sink->monitor_source_name : ""});
      if (!last) return;
      // The whole sink's sound needs nothing of its inputs.
      if (!stream->mixing_) return stream->match();
      auto inputInfo = [](pa_context*, const pa_sink_input_info* input, int last, void* self) {
        auto* stream = static_cast<SoundStream*>(self);
        if (input) {
          const char* pid = pa_proplist_gets(input->proplist, PA_PROP_APPLICATION_PROCESS_ID);
          stream->facts_.inputs.push_back({input->index, input->sink, pid ? pid_t(atoi(pid)) : 0});
        }
        if (last) stream->match();
      };
      if (auto* operation = pa_context_get_sink_input_info_list(context, inputInfo, stream))
        pa_operation_unref(operation);
    };
    if (auto* operation = pa_context_get_sink_info_list(context, sinkInfo, stream)) pa_operation_unref(operation);
  };
  if (auto* operation = pa_context_get_server_info(context_, serverInfo, this)) pa_operation_unref(operation);
}

void SoundStream::match() {
  scanning_ = false;
  auto wanted = recordingPlan(facts_, recording_, descendsFrom);
  for (auto it = monitors_.begin(); it != monitors_.end();) {
    auto want = wanted.find(it->first);
    if (want == wanted.end() || want->second != it->second->source())
      it = monitors_.erase(it);
    else
      ++it;
  }
  for (auto& [key, source] : wanted)
    if (!monitors_.count(key)) open(key, source);

  if (!started_ && starting_) {
    if (mixing_)
      finishStart(std::nullopt);
    else if (wanted.empty())
      finishStart(Error{failedToStart, "the sound server has no output to record"});
    // Whole-display sound starts once its monitor is ready.
  }
  if (scanAgain_) {
    scanAgain_ = false;
    rescan();
  }
}

void SoundStream::open(uint32_t key, const std::string& source) {
  auto onChunk = [this, first = true](Chunk chunk) mutable {
    if (!mixing_) return deliver(std::move(chunk), std::exchange(first, false));
    mixer_.add(chunk.time, chunk.count, chunk.frames ? chunk.frames->data() : nullptr);
  };
  auto onReady = [this, key, source](std::optional<std::string> error) {
    if (!error) {
      if (!mixing_) finishStart(std::nullopt);
      return;
    }
    if (!mixing_ && !started_) return finishStart(Error{failedToStart, "the sound server cannot record " + source + ": " + *error});
    monitorEnded(key);
  };
  auto onEnd = [this, key](std::optional<std::string>) { monitorEnded(key); };
  std::optional<uint32_t> sinkInput;
  if (key != wholeSinkKey) sinkInput = key;
  auto monitor = Monitor::open(context_, source, sinkInput, onChunk, onReady, onEnd);
  if (!monitor) {
    if (!mixing_ && !started_) finishStart(Error{failedToStart, "the sound server cannot record " + source + ": " + why(context_)});
    return;
  }
  monitors_[key] = std::move(monitor);
}

void SoundStream::monitorEnded(uint32_t key) {
  // A sink input that goes away ends only its own part; a vanished sink is
  // replaced by the new default one.
  monitors_.erase(key);
  rescanSoon();
}

void SoundStream::deliver(Chunk chunk, bool first) {
  // The writer keeps a buffer that lands within 10 ms of where its output ends
  // right there, and that offset stays. A recording's first buffer therefore
  // reaches a second back with silence: the writer cuts it exactly where its
  // output ends, and all that follows lines up to the frame.
  if (first) {
    auto lead = int64_t(rate);
    auto frames = std::make_shared<std::vector<float>>(size_t(2 * (lead + chunk.count)), 0.0f);
    if (chunk.frames) std::copy(chunk.frames->begin(), chunk.frames->end(), frames->begin() + 2 * lead);
    chunk = {chunk.time - 1, lead + chunk.count, frames};
  }
  SampleBuffer sample;
  sample.audioDescription = floatStereo;
  sample.numSamples = chunk.count;
  sample.audioBufferList = std::vector<AudioBuffer>{
      {chunk.frames ? chunk.frames->data() : nullptr, size_t(chunk.count) * 8, 2}};
  sample.presentationTime = chunk.time;
  sample.owner = chunk.frames;
  for (auto& output : outputs_)
    output.queue->async([this, output = output.output, sample] { output->stream(*this, sample, OutputType::audio); });
}

void SoundStream::mixSome() {
  pa_context_rttime_restart(context_, mixTimer_, pa_rtclock_now() + mixPeriod);
  auto mixed = mixer_.take(hostSeconds() - mixDelay);
  if (!mixed) return;
  int64_t count = int64_t(mixed->frames.size() / 2);
  deliver({mixed->time, count, std::make_shared<std::vector<float>>(std::move(mixed->frames))},
          std::exchange(firstMix_, false));
}

}  // namespace platform::pulse
