// The sound writer: raw 48 kHz stereo float frames on standard output, frame
// k belonging to host time origin + k / soundRate. Delivered buffers land
// where their presentation times say, gaps are filled with silence, and what
// overlaps sound already written is cut away; keepTime keeps the output from
// lagging the clock when nothing arrives.
//
// REQUIRES: stream() and keepTime() come from one thread at a time (the sound
// queue). streamDidStop() may come from anywhere: it only ends the process.
#pragma once

#include <cstdint>

#include "platform/stream.h"

// Frames a second of the sound output.
constexpr double soundRate = 48000;
// Seconds: silence is filled up to this long before now.
constexpr double soundLag = 0.03;
// Seconds: silence is filled once the output is this far behind.
constexpr double soundBehind = 0.06;
// Seconds: within this, a buffer is written where the output ends, uncorrected.
constexpr double soundSlack = 0.01;

class Sound : public platform::StreamOutput, public platform::StreamDelegate {
 public:
  // Takes standard output as it is now.
  explicit Sound(double origin);

  // Audio buffers are placed and written; screen buffers are ignored.
  void stream(platform::Stream& stream, const platform::SampleBuffer& sample,
              platform::OutputType type) override;
  // Ends the process with exit code 2.
  void streamDidStop(platform::Stream& stream, const platform::Error& error) override;
  // Fills silence up to soundLag before `now` (host seconds) once the output
  // ends more than soundBehind before it.
  void keepTime(double now);

  const double origin;  // host seconds of output frame 0
  int64_t written = 0;  // frames written so far, silence included; never decreases
  const int32_t out;    // standard output
  bool warned = false;  // the unreadable-format line has been printed

 private:
  void silence(int64_t frames);
  // The output frame that belongs to host time `time`; none when that frame
  // cannot be counted (not finite, or beyond 64 bits).
  std::optional<int64_t> frameAt(double time) const;
};
