#include "video/tick.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "platform/fake/fake_capture.h"
#include "support/captured.h"

namespace {

uint32_t white(size_t, size_t) { return 0xffffffffu; }

TEST(Tick, WritesNothingBeforeTheFirstFrameThenTheNewestWhole) {
  auto frames = std::make_shared<Frames>(40, 30);
  platform::FakeStream stream({}, {}, *frames);
  EXPECT_EQ(captured(1, [&] { Tick(frames, 1)(); }), "");
  frames->stream(stream, platform::screenSample(40, 30, 160, platform::complete, white), platform::OutputType::screen);
  std::string out = captured(1, [&] {
    Tick tick(frames, 1);
    tick();
    tick();
  });
  EXPECT_EQ(out, std::string(2 * 40 * 30 * 4, '\xff'));
}

TEST(Tick, EndsWithZeroAndNoMessageWhenTheReaderHasGone) {
  auto frames = std::make_shared<Frames>(4, 3);
  platform::FakeStream stream({}, {}, *frames);
  frames->stream(stream, platform::screenSample(4, 3, 16, platform::complete, white), platform::OutputType::screen);
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EXIT(
      {
        int ends[2];
        if (pipe(ends) != 0) abort();
        close(ends[0]);
        Tick(frames, ends[1])();
        abort();
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace

namespace {

// Frames lent to a pipe must reach the reader as they were when written, while
// the sink goes on packing newer frames into recycled memory.
TEST(Tick, FramesLentToAPipeArriveIntactWhileTheSinkRecyclesMemory) {
  constexpr int w = 256, h = 256;  // 256 KiB frames: several fit in the pipe
  auto frames = std::make_shared<Frames>(w, h);
  platform::FakeStream stream({}, {}, *frames);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  Tick tick(frames, ends[1]);
  std::string out;
  std::thread reader([&] {
    char chunk[65536];
    ssize_t n;
    while ((n = read(ends[0], chunk, sizeof chunk)) > 0) {
      out.append(chunk, size_t(n));
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // a slow reader
    }
  });
  static uint8_t shade;
  for (int i = 0; i < 40; i++) {
    shade = uint8_t(i);
    frames->stream(stream, platform::screenSample(w, h, w * 4, platform::complete,
                                                  [](size_t, size_t) { return 0x01010101u * shade; }),
                   platform::OutputType::screen);
    tick();
  }
  close(ends[1]);
  reader.join();
  close(ends[0]);
  ASSERT_EQ(out.size(), size_t(40) * w * h * 4);
  for (int i = 0; i < 40; i++) {
    std::string expected(size_t(w) * h * 4, char(i));
    ASSERT_EQ(out.compare(size_t(i) * w * h * 4, expected.size(), expected), 0) << "frame " << i;
  }
}

}  // namespace
