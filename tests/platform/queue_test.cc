#include "platform/queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksOneAtATimeInOrderOnItsNamedThread) {
  platform::SerialQueue queue("pellix.frames");
  std::vector<int> order;
  std::promise<std::string> name;
  for (int i = 0; i < 100; i++) queue.async([&order, i] { order.push_back(i); });
  queue.async([&] {
    char buffer[16] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name.set_value(buffer);
  });
  EXPECT_EQ(name.get_future().get(), "pellix.frames");
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; i++) EXPECT_EQ(order[size_t(i)], i);
}

TEST(SerialQueue, WithALimitKeepsTheNewestThatWait) {
  platform::SerialQueue queue("pellix.sound", 3);
  std::promise<void> started, release;
  queue.async([&] {
    started.set_value();
    release.get_future().wait();
  });
  started.get_future().wait();
  // The running task does not count: of the six that wait, the last three stay.
  std::vector<int> ran;
  std::promise<void> last;
  auto held = std::make_shared<int>();
  for (int i = 0; i < 6; i++)
    queue.async([&ran, &last, i, held] {
      ran.push_back(i);
      if (i == 5) last.set_value();
    });
  EXPECT_EQ(held.use_count(), 4);  // the dropped ones are let go of at once
  release.set_value();
  last.get_future().wait();
  EXPECT_EQ(ran, (std::vector<int>{3, 4, 5}));
}

TEST(SerialQueue, FiresATimerAtOnceThenAtItsRate) {
  platform::SerialQueue queue("pellix.ticks");
  std::atomic<int> firings = 0;
  auto start = std::chrono::steady_clock::now();
  std::promise<std::chrono::steady_clock::time_point> first;
  queue.repeat(20ms, [&] {
    if (firings++ == 0) first.set_value(std::chrono::steady_clock::now());
  });
  EXPECT_LT(first.get_future().get() - start, 100ms);
  std::this_thread::sleep_for(200ms);
  EXPECT_GE(firings, 6);
  EXPECT_LE(firings, 12);
}

TEST(SerialQueue, MergesFiringsMissedWhileAHandlerRuns) {
  platform::SerialQueue queue("pellix.ticks");
  std::atomic<int> firings = 0;
  // Every firing takes 50 ms of a 5 ms period: a backlog would mean 10 firings
  // per handler; merged, the handler just runs back to back.
  queue.repeat(5ms, [&] {
    firings++;
    std::this_thread::sleep_for(50ms);
  });
  std::this_thread::sleep_for(275ms);
  int seen = firings;
  EXPECT_GE(seen, 5);
  EXPECT_LE(seen, 7);
}

// The shortest period fires back to back, yet tasks still get their turn and
// the queue still stops.
TEST(SerialQueue, ATimerOfOneNanosecondLeavesRoomForTasks) {
  std::atomic<int> firings = 0;
  {
    platform::SerialQueue queue("pellix.ticks");
    queue.repeat(1ns, [&] { firings++; });
    for (int i = 0; i < 3; i++) {
      std::promise<void> ran;
      queue.async([&] { ran.set_value(); });
      EXPECT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);
    }
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (firings < 1000 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  }
  EXPECT_GE(firings, 1000);
}

}  // namespace
