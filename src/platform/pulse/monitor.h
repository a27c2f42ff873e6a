// One recording from the sound server: a sink's monitor, or only what one
// sink input plays into it, as 48 kHz float stereo in 10 ms chunks, each
// stamped with the host time of its first frame. Chunks wait inside until the
// recording's clock knows where they lie.
//
// REQUIRES: created, used and destroyed on the server's main loop thread; the
// callbacks run there too.
#pragma once

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pulse/chunk_clock.h"

namespace platform::pulse {

// Interleaved stereo frames; empty for a hole (silence of `count` frames).
struct Chunk {
  double time = 0;  // host seconds of the first frame
  int64_t count = 0;
  std::shared_ptr<std::vector<float>> frames;
};

class Monitor {
 public:
  using OnChunk = std::function<void(Chunk)>;
  // Runs once: the recording is ready (no error) or could not be made or ended.
  using OnState = std::function<void(std::optional<std::string> error)>;

  // Records `source`; with `sinkInput`, only that input's part of it. None
  // when the server cannot make a recording at all (see pa_context_errno).
  static std::unique_ptr<Monitor> open(pa_context* context, const std::string& source,
                                       std::optional<uint32_t> sinkInput, OnChunk onChunk, OnState onReady,
                                       OnState onEnd);
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  const std::string& source() const { return source_; }

 private:
  Monitor(pa_stream* stream, std::string source, OnChunk onChunk, OnState onReady, OnState onEnd);
  static void stateChanged(pa_stream* stream, void* self);
  static void readable(pa_stream* stream, size_t bytes, void* self);
  static void timingUpdated(pa_stream* stream, void* self);
  void read();
  void takeSnapshot();
  void askForTiming();
  void handOut();

  pa_stream* stream_ = nullptr;
  std::string source_;
  OnChunk onChunk_;
  OnState onReady_, onEnd_;
  ChunkClock clock_;
  int64_t frames_ = 0;  // frames read so far, holes included
  struct Waiting {
    int64_t first;
    int64_t count;
    std::shared_ptr<std::vector<float>> frames;
  };
  std::deque<Waiting> waiting_;
  double lastAsked_ = -1e9;
};

// Host seconds (CLOCK_MONOTONIC), the clock of the chunks' times.
double hostSeconds();

}  // namespace platform::pulse
