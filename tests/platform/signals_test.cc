#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/queue.h"

namespace {

using namespace std::chrono_literals;

// SIGTERM comes while other threads are busy, as it does mid-capture: it
// ends the process with 0 on the waiting thread, whatever they are doing.
[[noreturn]] void terminatedWhileBusy() {
  platform::blockTerm();
  platform::SerialQueue ticks("pellix.ticks");
  platform::SerialQueue work("pellix.work");
  std::atomic<long> count = 0;
  ticks.repeat(1ms, [&] { count++; });
  for (int i = 0; i < 1000; i++) work.async([&] { count++; });
  // From one of the busy threads, as a signal may land on any of them.
  work.async([] { kill(getpid(), SIGTERM); });
  platform::exitOnTerm();
}

TEST(Signals, SigtermWhileQueuesRunEndsWithZero) {
  EXPECT_EXIT(terminatedWhileBusy(), testing::ExitedWithCode(0), "^$");
}

}  // namespace
