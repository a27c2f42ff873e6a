#include "shot/first_frame.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/fake/fake_capture.h"

namespace {

using platform::OutputType;

uint32_t red(size_t, size_t) { return 0xffff0000u; }
uint32_t green(size_t, size_t) { return 0xff00ff00u; }

struct Waiter {
  FirstFrame first;
  platform::FakeStream stream{{}, {}, first};
  std::shared_ptr<platform::SerialQueue> queue = std::make_shared<platform::SerialQueue>("pellix.shot");
  Waiter() { stream.addStreamOutput(first, OutputType::screen, queue); }
  // Delivers once the wait has started the stream.
  std::thread later(std::function<void(platform::FakeStream&)> act) {
    return std::thread([this, act] {
      while (!stream.started) std::this_thread::yield();
      act(stream);
    });
  }
};

TEST(FirstFrame, TheFirstCompleteFrameWins) {
  Waiter w;
  auto frames = w.later([](platform::FakeStream& s) {
    s.deliver(platform::screenSample(4, 2, 16, platform::idle, red), OutputType::screen);
    s.deliver(platform::screenSample(4, 2, 16, platform::complete, green), OutputType::audio);
    auto noStatus = platform::screenSample(4, 2, 16, platform::complete, red);
    noStatus.attachments->front().clear();
    s.deliver(noStatus, OutputType::screen);
    s.deliver(platform::screenSample(3, 2, 20, platform::complete, green), OutputType::screen);
    s.deliver(platform::screenSample(4, 2, 16, platform::complete, red), OutputType::screen);
    s.stop({1, "late stop"});
  });
  platform::Picture picture = w.first.wait(w.stream);
  frames.join();
  EXPECT_EQ(picture.width, 3);
  EXPECT_EQ(picture.height, 2);
  ASSERT_EQ(picture.pixels->size(), 24u);
  EXPECT_EQ((*picture.pixels)[1], 0xff);  // green, packed without the padding
}

TEST(FirstFrame, DeliversStartAndStopErrorsInsteadOfAnImage) {
  Waiter starting;
  starting.stream.startError = platform::Error{platform::userDeclined, "declined"};
  try {
    starting.first.wait(starting.stream);
    FAIL();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.code, platform::userDeclined);
  }

  Waiter stopping;
  auto stop = stopping.later([](platform::FakeStream& s) { s.stop({7, "the window was destroyed"}); });
  try {
    stopping.first.wait(stopping.stream);
    FAIL();
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.description, "the window was destroyed");
  }
  stop.join();
}

}  // namespace
