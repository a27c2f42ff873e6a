// Serial queues and repeating timers. A queue is one thread, named after its
// label, that runs its tasks and its timers' handlers one at a time, in order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class SerialQueue {
 public:
  static constexpr size_t unlimited = SIZE_MAX;

  // With a `waitingLimit` (at least 1), at most that many tasks wait at a
  // time: one more drops the oldest waiting task. For work whose loss is
  // covered later, such as sound whose time the writer fills with silence.
  // Throws Error when the system gives no thread.
  explicit SerialQueue(std::string label, size_t waitingLimit = unlimited);
  // Drops pending tasks and timers, then joins the thread (tests only: the
  // tool never destroys a queue). Must not run on the queue itself.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }
  // Runs `task` after those before it that are not dropped.
  void async(std::function<void()> task);

  // Fires `handler` on this queue, first now, then every `interval` (at least
  // 1 ns). Firings that fall due while a handler still runs merge into one:
  // the next deadline is the first of the schedule that is not yet past.
  void repeat(std::chrono::nanoseconds interval, std::function<void()> handler);

 private:
  struct Timer {
    std::chrono::steady_clock::time_point next;
    std::chrono::nanoseconds interval;
    std::function<void()> handler;
  };
  void run();

  std::string label_;
  size_t waitingLimit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<Timer> timers_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace platform
