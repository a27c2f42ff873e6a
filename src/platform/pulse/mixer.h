// Sums the sound of several recordings on one grid of host time (one slot per
// frame at the output rate) and hands the sum out once the recordings can no
// longer add to it. Sound for time already handed out is dropped. Plain logic,
// no server: one thread at a time.
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace platform::pulse {

class Mixer {
 public:
  explicit Mixer(double rate) : rate_(rate) {}

  struct Mixed {
    double time;                // host time of the first frame
    std::vector<float> frames;  // interleaved stereo
  };

  // Adds `count` stereo frames starting at host time `time`; null `frames` is
  // silence (it adds nothing, but the time is known to be covered).
  void add(double time, int64_t count, const float* frames) {
    if (!start_ || !frames || !std::isfinite(time)) return;
    int64_t first = std::llround(time * rate_);
    int64_t from = std::max<int64_t>(0, *start_ - first);
    int64_t to = std::min<int64_t>(count, *start_ + ahead() - first);
    if (from >= to) return;
    size_t needed = size_t(2 * (first + to - *start_));
    if (sums_.size() < needed) sums_.resize(needed, 0.0f);
    for (int64_t k = from; k < to; k++) {
      size_t slot = size_t(2 * (first + k - *start_));
      sums_[slot] += frames[2 * k];
      sums_[slot + 1] += frames[2 * k + 1];
    }
  }

  // The frames from the end of the last hand-out up to host time `until`; the
  // first call only fixes where the grid starts.
  std::optional<Mixed> take(double until) {
    int64_t end = int64_t(std::floor(until * rate_));
    if (!start_) {
      start_ = end;
      return std::nullopt;
    }
    if (end <= *start_) return std::nullopt;
    Mixed mixed{double(*start_) / rate_, std::vector<float>(size_t(2 * (end - *start_)), 0.0f)};
    size_t ready = std::min(sums_.size(), mixed.frames.size());
    std::copy(sums_.begin(), sums_.begin() + ptrdiff_t(ready), mixed.frames.begin());
    sums_.erase(sums_.begin(), sums_.begin() + ptrdiff_t(ready));
    start_ = end;
    return mixed;
  }

 private:
  // How far ahead of the hand-out a recording may deliver: a sink renders its
  // sound up to two seconds before it is heard.
  int64_t ahead() const { return int64_t(5 * rate_); }

  double rate_;
  std::optional<int64_t> start_;  // grid slot of sums_[0]
  std::deque<float> sums_;
};

}  // namespace platform::pulse
