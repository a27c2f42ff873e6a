// Host times for the chunks of one recording. The sound server's timing
// snapshots say where frame 0 of the recording lies on the host clock; the
// clock takes the median of the recent ones. A snapshot far from that median
// counts only once a second one agrees with it (a sink changing its latency
// reports a few odd ones). When chunks come later than the anchor allows, the
// clock holds its anchor back until a snapshot taken after such a chunk says
// why: one that agrees means only the reader ran late (a busy machine), and
// the anchor stands; one that does not means the source paused or changed its
// timing, and it becomes the new anchor. Sound is never placed at a time the
// clock doubts. Plain logic, no server: one thread at a time.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace platform::pulse {

class ChunkClock {
 public:
  explicit ChunkClock(double rate) : rate_(rate) {}

  // A snapshot taken at host time `taken` puts frame 0 at host time `anchor`.
  void snapshot(double taken, double anchor) {
    if (taken < notBefore_ || !std::isfinite(anchor)) return;
    if (std::exchange(doubted_, false)) {
      if (auto current = median(); !current || std::abs(anchor - *current) > jump) forget();
    }
    // Snapshots of one steady source agree within a couple of milliseconds.
    if (auto current = median(); current && std::abs(anchor - *current) > jump) {
      auto previous = std::exchange(outlier_, anchor);
      if (!previous || std::abs(anchor - *previous) > jump) return;
      forget();
      anchors_.push_back(*previous);
    }
    outlier_.reset();
    anchors_.push_back(anchor);
    if (anchors_.size() > kept) anchors_.pop_front();
  }

  // Frames up to `end` have arrived at host time `arrival`. False when they
  // came too late for the anchor: the clock then has none until a snapshot
  // taken after `arrival`, which the caller should ask for.
  bool arrived(double arrival, int64_t end) {
    auto current = anchor();
    if (!current) return true;
    double lag = arrival - (*current + double(end) / rate_);
    if (!earliest_ || lag < *earliest_) earliest_ = lag;
    if (lag <= *earliest_ + late) return true;
    doubted_ = true;
    notBefore_ = arrival;
    return false;
  }

  // Host time of frame 0, none while the clock waits for a snapshot.
  std::optional<double> anchor() const { return doubted_ ? std::nullopt : median(); }

 private:
  static constexpr size_t kept = 5;
  static constexpr double jump = 0.005;  // seconds
  static constexpr double late = 0.02;   // seconds beyond the earliest arrival seen

  std::optional<double> median() const {
    if (anchors_.empty()) return std::nullopt;
    std::vector<double> sorted(anchors_.begin(), anchors_.end());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    return sorted[sorted.size() / 2];
  }

  void forget() {
    anchors_.clear();
    earliest_.reset();
    outlier_.reset();
  }

  double rate_;
  std::deque<double> anchors_;
  std::optional<double> outlier_;   // the last snapshot far from the anchor
  std::optional<double> earliest_;  // the smallest lag of arrival behind the anchor
  bool doubted_ = false;            // a chunk came late: wait for a snapshot after it
  double notBefore_ = -INFINITY;
};

}  // namespace platform::pulse
