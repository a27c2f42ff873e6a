#include "platform/queue.h"

#include <pthread.h>

#include <system_error>

#include "platform/error.h"

namespace platform {

SerialQueue::SerialQueue(std::string label, size_t waitingLimit)
    : label_(std::move(label)), waitingLimit_(waitingLimit) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error& refused) {
    throw Error{refused.code().value(), "cannot start the thread " + label_ + ": " + refused.code().message()};
  }
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SerialQueue::async(std::function<void()> task) {
  std::function<void()> dropped;  // let go of outside the lock
  {
    std::lock_guard lock(mutex_);
    if (!tasks_.empty() && tasks_.size() >= waitingLimit_) {
      dropped = std::move(tasks_.front());
      tasks_.pop_front();
    }
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void SerialQueue::repeat(std::chrono::nanoseconds interval, std::function<void()> handler) {
  {
    std::lock_guard lock(mutex_);
    timers_.push_back({std::chrono::steady_clock::now(), interval, std::move(handler)});
  }
  wake_.notify_all();
}

void SerialQueue::run() {
  pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    Timer* due = nullptr;
    for (auto& timer : timers_)
      if (!due || timer.next < due->next) due = &timer;
    if (!due) {
      wake_.wait(lock);
      continue;
    }
    auto now = std::chrono::steady_clock::now();
    if (due->next > now) {
      wake_.wait_until(lock, due->next);
      continue;
    }
    // Skip the deadlines already past, so missed firings merge into this one.
    auto behind = (now - due->next) / due->interval;
    due->next += due->interval * (behind + 1);
    auto handler = due->handler;  // timers_ may grow while the handler runs
    lock.unlock();
    handler();
    lock.lock();
  }
}

}  // namespace platform
