#include "video/frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "platform/fake/fake_capture.h"
#include "support/captured.h"

namespace {

using platform::OutputType;
using platform::SampleBuffer;

uint32_t gradient(size_t x, size_t y) { return 0xff000000u | uint32_t(y) << 8 | uint32_t(x); }

// The frame a sink of width x height should hold for a gradient buffer of
// bufferWidth x bufferHeight: the overlap copied, the rest zero.
std::vector<uint8_t> expected(size_t width, size_t height, size_t bufferWidth, size_t bufferHeight) {
  std::vector<uint8_t> frame(width * height * 4, 0);
  for (size_t y = 0; y < std::min(height, bufferHeight); y++)
    for (size_t x = 0; x < std::min(width, bufferWidth); x++) {
      uint32_t p = gradient(x, y);
      memcpy(&frame[(y * width + x) * 4], &p, 4);
    }
  return frame;
}

struct Sink {
  Sink(int64_t w, int64_t h, bool verbose = false) : frames(w, h, verbose), stream({}, {}, frames) {}
  void deliver(const SampleBuffer& sample, OutputType type = OutputType::screen) {
    frames.stream(stream, sample, type);
  }
  Frames frames;
  platform::FakeStream stream;
};

TEST(Frames, KeepsOnlyCompleteScreenFrames) {
  Sink sink(4, 3);
  auto complete = [] { return platform::screenSample(4, 3, 16, platform::complete, gradient); };
  std::vector<SampleBuffer> ignored;
  for (int64_t status : {1, 2, 3, 4, 5, -1, 99}) ignored.push_back(platform::screenSample(4, 3, 16, status, gradient));
  ignored.push_back(complete());
  ignored.back().isValid = false;
  ignored.push_back(complete());
  ignored.back().attachments.reset();
  ignored.push_back(complete());
  ignored.back().attachments->clear();
  ignored.push_back(complete());
  ignored.back().attachments->front().clear();  // no status entry
  ignored.push_back(complete());
  ignored.back().attachments->front()[platform::frameInfoStatus] = 0.0;  // not an integer
  ignored.push_back(complete());
  ignored.back().imageBuffer.reset();
  ignored.push_back(complete());
  ignored.back().imageBuffer->baseAddress = nullptr;
  // A later dictionary does not count: only the first is read.
  ignored.push_back(complete());
  ignored.back().attachments->front()[platform::frameInfoStatus] = int64_t(1);
  ignored.back().attachments->push_back({{platform::frameInfoStatus, int64_t(0)}});

  for (auto& sample : ignored) sink.deliver(sample);
  sink.deliver(complete(), OutputType::audio);
  EXPECT_FALSE(sink.frames.newest());

  sink.deliver(complete());
  Frame first = sink.frames.newest();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bytes(), expected(4, 3, 4, 3));
  EXPECT_EQ(sink.frames.newest(), first);  // the same frame until a newer one
  for (auto& sample : ignored) sink.deliver(sample);
  EXPECT_EQ(sink.frames.newest(), first);
}

TEST(Frames, PacksEveryBufferShapeToTheSinkSize) {
  struct Case {
    size_t width, height, bytesPerRow;
  } cases[] = {
      {12, 7, 48},    // the sink's own size
      {12, 7, 64},    // rows with padding: same frame as packed
      {14, 9, 60},    // larger: cut to the top-left
      {8, 3, 40},     // smaller: the rest zero
      {14, 3, 56},    // wider but shorter
      {1, 1, 4},      // one pixel: the rest zero
  };
  Sink sink(12, 7);
  for (auto& c : cases) {
    sink.deliver(platform::screenSample(c.width, c.height, c.bytesPerRow, platform::complete, gradient));
    Frame frame = sink.frames.newest();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->bytes(), expected(12, 7, c.width, c.height)) << c.width << "x" << c.height << " / " << c.bytesPerRow;
  }
}

// Frames of megabytes live in memory of another kind (huge pages), packed alike.
TEST(Frames, LargeFramesArePackedAlike) {
  Sink sink(1024, 600);
  for (size_t width : {1024, 1000, 1030, 1024, 512}) {
    sink.deliver(platform::screenSample(width, 600, width * 4, platform::complete, gradient));
    Frame frame = sink.frames.newest();
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->bytes() == expected(1024, 600, width, 600)) << width;
  }
}

TEST(Frames, AFrameOnceStoredNeverChanges) {
  Sink sink(6, 5);
  sink.deliver(platform::screenSample(6, 5, 24, platform::complete, gradient));
  Frame held = sink.frames.newest();
  auto copy = held->bytes();
  for (int i = 0; i < 10; i++)
    sink.deliver(platform::screenSample(3, 2, 12, platform::complete, [](size_t, size_t) { return 0x11223344u; }));
  EXPECT_EQ(held->bytes(), copy);
  EXPECT_NE(sink.frames.newest()->bytes(), copy);
  EXPECT_EQ(sink.frames.newest()->size(), 6u * 5 * 4);
}

// A buffer the size of `screen`'s, a copy of its pixels, saying what changed.
SampleBuffer sampleOf(const std::vector<uint32_t>& screen, size_t width, std::optional<platform::PixelBox> changed) {
  auto memory = std::make_shared<std::vector<uint32_t>>(screen);
  SampleBuffer sample;
  sample.attachments = std::vector<platform::Attachment>{{{platform::frameInfoStatus, int64_t(platform::complete)}}};
  sample.imageBuffer = platform::PixelBuffer{reinterpret_cast<const uint8_t*>(memory->data()), width * 4, width,
                                             screen.size() / width, memory};
  sample.changed = changed;
  return sample;
}

// Frames that say which part changed share the rest with the frame before:
// every frame holds the bytes a whole packing gives, and none ever changes.
TEST(Frames, AFrameThatChangedInPartIsTheWholePictureAndLeavesEarlierFramesAlone) {
  struct Step {
    size_t bufferWidth, bufferHeight;
    platform::PixelBox box;  // painted and said to have changed
  } steps[] = {
      {600, 6, {10, 1, 20, 2}},       // a small part: the rest of each row shared
      {600, 6, {0, 0, 400, 1}},       // most of a row: whole rows new
      {600, 6, {590, 4, 50, 50}},     // running off the buffer
      {600, 6, {700, 9, 10, 10}},     // wholly off: nothing new
      {600, 6, {0, 0, 0, 0}},         // empty
      {500, 5, {450, 3, 100, 10}},    // a smaller buffer: packed whole, the rest zero
      {500, 5, {100, 0, 10, 5}},      // then shared with it
      {600, 6, {1, 1, 1, 1}},         // larger again: packed whole
  };
  Sink sink(600, 6);
  std::vector<std::pair<Frame, std::vector<uint8_t>>> held;
  std::vector<uint32_t> screen;
  size_t width = 0;
  uint32_t colour = 0xff000001;
  auto paint = [&](size_t bufferWidth, size_t bufferHeight, platform::PixelBox box) {
    if (bufferWidth != width || screen.size() != bufferWidth * bufferHeight) {
      width = bufferWidth;
      screen.assign(bufferWidth * bufferHeight, 0);
      for (size_t i = 0; i < screen.size(); i++) screen[i] = gradient(i % width, i / width);
    }
    for (size_t y = box.y; y < std::min(box.y + box.height, bufferHeight); y++)
      for (size_t x = box.x; x < std::min(box.x + box.width, bufferWidth); x++) screen[y * width + x] = colour;
    colour += 0x010203;
    sink.deliver(sampleOf(screen, width, box));
    auto frame = sink.frames.newest();
    std::vector<uint8_t> whole(600 * 6 * 4, 0);
    for (size_t y = 0; y < std::min<size_t>(bufferHeight, 6); y++)
      memcpy(&whole[y * 600 * 4], &screen[y * width], std::min<size_t>(width, 600) * 4);
    EXPECT_EQ(frame->bytes(), whole) << "after " << box.x << "," << box.y << " " << box.width << "x" << box.height
                                     << " on " << bufferWidth << "x" << bufferHeight;
    held.push_back({frame, frame->bytes()});
  };
  paint(600, 6, {0, 0, 0, 0});
  sink.deliver(sampleOf(screen, 600, std::nullopt));
  held.clear();
  for (auto& step : steps) paint(step.bufferWidth, step.bufferHeight, step.box);
  // Nothing new: the same frame again.
  EXPECT_EQ(held[3].first, held[2].first);
  EXPECT_EQ(held[4].first, held[2].first);
  EXPECT_NE(held[1].first, held[0].first);

  // A long run of small changes here and there keeps every frame whole too;
  // a frame made of slivers of many old ones is packed anew.
  uint32_t seed = 7;
  auto next = [&](size_t below) { return size_t((seed = seed * 1103515245 + 12345) >> 8) % below; };
  for (int i = 0; i < 300; i++) paint(600, 6, {next(620), next(7), 1 + next(300), 1 + next(3)});
  for (auto& [frame, bytes] : held) ASSERT_EQ(frame->bytes(), bytes);
}

// Frame memory that never changes once handed is kept as it is; anything
// else is copied.
TEST(Frames, KeepsKeepableMemoryAsItIsAndCopiesTheRest) {
  Sink sink(4, 3);
  auto keepable = [](size_t width, size_t height, size_t bytesPerRow, bool keep) {
    auto sample = platform::screenSample(width, height, bytesPerRow, platform::complete, gradient);
    sample.imageBuffer->keepable = keep;
    return sample;
  };
  struct Case {
    size_t width, height, bytesPerRow;
    bool keep, kept;
  } cases[] = {{4, 3, 16, true, true}, {4, 3, 16, false, false}, {4, 3, 20, true, false}, {5, 3, 20, true, false},
               {4, 2, 16, true, false}};
  for (auto& c : cases) {
    auto sample = keepable(c.width, c.height, c.bytesPerRow, c.keep);
    sink.deliver(sample);
    Frame frame = sink.frames.newest();
    ASSERT_EQ(frame->spans().size(), 1u);
    EXPECT_EQ(frame->spans()[0].iov_base == sample.imageBuffer->baseAddress, c.kept) << c.width << "x" << c.height;
    EXPECT_EQ(frame->bytes(), expected(4, 3, c.width, c.height)) << c.width << "x" << c.height;
  }
}

TEST(Frames, SaysFirstFrameOnce) {
  for (auto [w, h] : {std::pair{4, 3}, {0, 3}, {4, 0}}) {
    Sink sink(w, h, true);
    std::string said = captured(2, [&] {
      sink.deliver(platform::screenSample(4, 3, 16, platform::idle, gradient));
      for (int i = 0; i < 3; i++) sink.deliver(platform::screenSample(4, 3, 16, platform::complete, gradient));
    });
    EXPECT_EQ(said, "pellix-capture: first frame\n");
    EXPECT_EQ(sink.frames.newest()->size(), size_t(w * h * 4));
  }
}

TEST(Frames, AStreamThatStopsEndsTheProcess) {
  Sink sink(4, 3);
  EXPECT_EXIT(sink.frames.streamDidStop(sink.stream, {-1, "the window was destroyed"}), testing::ExitedWithCode(2),
              "^pellix-capture: the capture stopped: the window was destroyed\n$");
}

}  // namespace
