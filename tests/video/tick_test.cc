#include "video/tick.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "platform/fake/fake_capture.h"
#include "support/captured.h"

namespace {

uint32_t white(size_t, size_t) { return 0xffffffffu; }

TEST(Tick, WritesNothingBeforeTheFirstFrameThenTheNewestWhole) {
  Frames frames(40, 30);
  platform::FakeStream stream({}, {}, frames);
  EXPECT_EQ(captured(1, [&] { tick(frames, 1); }), "");
  frames.stream(stream, platform::screenSample(40, 30, 160, platform::complete, white), platform::OutputType::screen);
  std::string out = captured(1, [&] {
    tick(frames, 1);
    tick(frames, 1);
  });
  EXPECT_EQ(out, std::string(2 * 40 * 30 * 4, '\xff'));
}

TEST(Tick, EndsWithZeroAndNoMessageWhenTheReaderHasGone) {
  Frames frames(4, 3);
  platform::FakeStream stream({}, {}, frames);
  frames.stream(stream, platform::screenSample(4, 3, 16, platform::complete, white), platform::OutputType::screen);
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EXIT(
      {
        int ends[2];
        if (pipe(ends) != 0) abort();
        close(ends[0]);
        tick(frames, ends[1]);
        abort();
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace
