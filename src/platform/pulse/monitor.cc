#include "platform/pulse/monitor.h"

#include <time.h>

#include <cstring>

namespace platform::pulse {

namespace {

constexpr double rate = 48000;
constexpr size_t frameBytes = 8;
// Chunks kept while the clock has no anchor: two seconds, then the oldest go.
constexpr int64_t waitingLimit = 2 * 48000;

double seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

double hostSeconds() { return seconds(CLOCK_MONOTONIC); }

std::unique_ptr<Monitor> Monitor::open(pa_context* context, const std::string& source,
                                       std::optional<uint32_t> sinkInput, OnChunk onChunk, OnState onReady,
                                       OnState onEnd) {
  pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, uint32_t(rate), 2};
  pa_stream* stream = pa_stream_new(context, "pellix-capture", &spec, nullptr);
  if (!stream) return nullptr;
  if (sinkInput) pa_stream_set_monitor_stream(stream, *sinkInput);
  std::unique_ptr<Monitor> monitor(
      new Monitor(stream, source, std::move(onChunk), std::move(onReady), std::move(onEnd)));
  // Without a small fragment the server hands over sound in bursts of seconds.
  pa_buffer_attr attributes{uint32_t(-1), uint32_t(-1), uint32_t(-1), uint32_t(-1),
                            uint32_t(pa_usec_to_bytes(10000, &spec))};
  // Never follow a vanished source elsewhere: that could be a microphone.
  auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream, source.c_str(), &attributes, flags) < 0) return nullptr;
  return monitor;
}

Monitor::Monitor(pa_stream* stream, std::string source, OnChunk onChunk, OnState onReady, OnState onEnd)
    : stream_(stream), source_(std::move(source)), onChunk_(std::move(onChunk)), onReady_(std::move(onReady)),
      onEnd_(std::move(onEnd)), clock_(rate) {
  pa_stream_set_state_callback(stream_, stateChanged, this);
  pa_stream_set_read_callback(stream_, readable, this);
  pa_stream_set_latency_update_callback(stream_, timingUpdated, this);
}

Monitor::~Monitor() {
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
}

void Monitor::stateChanged(pa_stream* stream, void* self) {
  auto* monitor = static_cast<Monitor*>(self);
  auto state = pa_stream_get_state(stream);
  if (state == PA_STREAM_READY) {
    if (auto ready = std::move(monitor->onReady_)) ready(std::nullopt);
    monitor->onReady_ = nullptr;
    return;
  }
  if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) return;
  std::string why = pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
  // Either callback may destroy the monitor: nothing touches it afterwards.
  if (auto ready = std::move(monitor->onReady_)) {
    monitor->onReady_ = nullptr;
    ready(why);
  } else if (auto end = std::move(monitor->onEnd_)) {
    monitor->onEnd_ = nullptr;
    end(why);
  }
}

void Monitor::readable(pa_stream*, size_t, void* self) { static_cast<Monitor*>(self)->read(); }

void Monitor::timingUpdated(pa_stream*, void* self) {
  auto* monitor = static_cast<Monitor*>(self);
  monitor->takeSnapshot();
  monitor->handOut();
}

void Monitor::read() {
  // The arrival time comes before the data it stamps.
  double arrival = hostSeconds();
  while (pa_stream_readable_size(stream_) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) break;
    int64_t count = int64_t(bytes / frameBytes);
    std::shared_ptr<std::vector<float>> frames;
    if (data) {
      frames = std::make_shared<std::vector<float>>(size_t(2 * count));
      memcpy(frames->data(), data, size_t(count) * frameBytes);
    }
    waiting_.push_back({frames_, count, std::move(frames)});
    frames_ += count;
    pa_stream_drop(stream_);
  }
  while (!waiting_.empty() && frames_ - waiting_.front().first > waitingLimit) waiting_.pop_front();
  bool late = !clock_.arrived(arrival, frames_);
  // Ask again when a snapshot is needed and none came, and every second anyway.
  double wait = clock_.anchor() ? 1 : 0.05;
  if (late || arrival - lastAsked_ > wait) askForTiming();
  handOut();
}

void Monitor::takeSnapshot() {
  const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
  // Before the first data the source may still be starting or changing its
  // latency: such snapshots can be off by the length of a chunk.
  if (!timing || timing->write_index_corrupt || timing->write_index <= 0) return;
  // The snapshot's time is on the wall clock: bring it to the host clock.
  double wallToHost = seconds(CLOCK_REALTIME) - hostSeconds();
  double taken = double(timing->timestamp.tv_sec) + double(timing->timestamp.tv_usec) / 1e6 - wallToHost;
  // When it was taken, the server had written up to write_index; the frame
  // there is heard after the source's latency, and before the sink's (a
  // monitor hands over what its sink will play later). The transport time
  // lies after the snapshot: it plays no part.
  double delay = (double(timing->source_usec) - double(timing->sink_usec)) / 1e6;
  double anchor = taken - double(timing->write_index) / (rate * frameBytes) - delay;
  clock_.snapshot(taken, anchor);
}

void Monitor::askForTiming() {
  lastAsked_ = hostSeconds();
  if (auto* operation = pa_stream_update_timing_info(stream_, nullptr, nullptr)) pa_operation_unref(operation);
}

void Monitor::handOut() {
  auto anchor = clock_.anchor();
  if (!anchor) return;
  while (!waiting_.empty()) {
    auto& next = waiting_.front();
    onChunk_({*anchor + double(next.first) / rate, next.count, std::move(next.frames)});
    waiting_.pop_front();
  }
}

}  // namespace platform::pulse
