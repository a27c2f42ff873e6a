// The X11 backend's streams against a real Xvfb: exact pixels of windows of
// our own, crops, scaling, covered and excluded windows, the pointer, idle
// frames, held buffers and the ways a stream stops.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "scenes.h"
#include "x11_support.h"

namespace {

using namespace std::chrono_literals;
using platform::ContentFilter;
using platform::SampleBuffer;
using platform::StreamConfiguration;

constexpr uint32_t black = 0xff000000;

// The pixel at (x, y) as 0xAARRGGBB.
uint32_t pixel(const SampleBuffer& sample, size_t x, size_t y) {
  auto& b = *sample.imageBuffer;
  const uint8_t* p = b.baseAddress + y * b.bytesPerRow + x * 4;
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool everyPixel(const SampleBuffer& sample, const std::function<bool(uint32_t)>& good) {
  auto& b = *sample.imageBuffer;
  for (size_t y = 0; y < b.height; y++)
    for (size_t x = 0; x < b.width; x++)
      if (!good(pixel(sample, x, y))) return false;
  return true;
}

// The test's stream output: statuses in order, and the newest complete frame.
class Frames : public platform::StreamOutput {
 public:
  explicit Frames(bool keepAll = false) : keepAll_(keepAll) {}

  void stream(platform::Stream&, const SampleBuffer& sample, platform::OutputType type) override {
    std::lock_guard lock(mutex_);
    if (type != platform::OutputType::screen) return;
    auto status = std::get<int64_t>(sample.attachments->at(0).at(platform::frameInfoStatus));
    statuses.push_back(status);
    if (status == platform::complete) {
      if (each) each(sample);
      latest_ = sample;
      completes_++;
      if (keepAll_) kept.push_back(sample);
    }
    changed_.notify_all();
  }

  // Waits for a complete frame for which `good` holds; none at the timeout.
  std::optional<SampleBuffer> waitFor(const std::function<bool(const SampleBuffer&)>& good,
                                      std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (latest_ && good(*latest_)) return latest_;
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return std::nullopt;
    }
  }

  // Waits for the next complete frame; none at the timeout.
  std::optional<SampleBuffer> next(std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    auto seen = completes_;
    if (!changed_.wait_for(lock, timeout, [&] { return completes_ > seen; })) return std::nullopt;
    return latest_;
  }

  size_t count(int64_t status) {
    std::lock_guard lock(mutex_);
    return size_t(std::count(statuses.begin(), statuses.end(), status));
  }

  void drop() {
    std::lock_guard lock(mutex_);
    kept.clear();
    latest_.reset();
  }

  std::vector<int64_t> statuses;
  std::vector<SampleBuffer> kept;
  // Called with every complete frame, when set before the stream starts.
  std::function<void(const SampleBuffer&)> each;

 private:
  bool keepAll_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<SampleBuffer> latest_;
  size_t completes_ = 0;
};

class Stops : public platform::StreamDelegate {
 public:
  void streamDidStop(platform::Stream&, const platform::Error& error) override {
    std::lock_guard lock(mutex_);
    errors.push_back(error);
    changed_.notify_all();
  }
  std::vector<platform::Error> waitFor(std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return !errors.empty(); });
    return errors;
  }
  std::vector<platform::Error> seen() {
    std::lock_guard lock(mutex_);
    return errors;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<platform::Error> errors;
};

StreamConfiguration configuration(int64_t width = 0, int64_t height = 0) {
  StreamConfiguration c;
  c.width = width;
  c.height = height;
  c.minimumFrameInterval = {1, 60};
  c.showsCursor = false;
  return c;
}

// A stream with its output and queue, torn down in the right order.
struct Running {
  Running(platform::Capture& capture, const ContentFilter& filter, const StreamConfiguration& configuration,
          bool keepAll = false)
      : frames(keepAll), queue(std::make_shared<platform::SerialQueue>("test.frames")) {
    stream = capture.makeStream(filter, configuration, stops);
    EXPECT_FALSE(stream->addStreamOutput(frames, platform::OutputType::screen, queue));
  }
  void start() { platform::startAndWait(*stream); }
  ~Running() {
    stream.reset();
    queue.reset();
  }
  Frames frames;
  Stops stops;
  std::shared_ptr<platform::SerialQueue> queue;
  std::unique_ptr<platform::Stream> stream;
};

ContentFilter wholeDisplay(platform::Capture& capture, std::vector<platform::RunningApplication> leftOut = {}) {
  auto content = capture.shareableContent();
  return ContentFilter::excluding(content.displays.at(0), std::move(leftOut));
}

// The filter of window `id`, once listed at its size (a window manager marks
// its clients with WM_STATE a moment after it maps them).
ContentFilter windowOf(platform::Capture& capture, uint32_t id, double width, double height) {
  std::optional<ContentFilter> filter;
  e2e::eventually([&] {
    for (auto& w : capture.shareableContent().windows)
      if (w.windowID == id && w.frame.width == width && w.frame.height == height) filter = capture.windowFilter(w);
    return filter.has_value();
  });
  if (!filter) throw std::runtime_error("window " + std::to_string(id) + " is not listed at its size");
  return *filter;
}

TEST(X11Stream, DisplayFramesHoldTheExactPixelsOfTheWindows) {
  e2e::Xvfb server(640, 480);
  auto red = scenes::paint(server, scenes::red);
  auto blue = scenes::paint(server, scenes::blue);
  auto capture = x11test::captureOn(server);
  Running run(*capture, wholeDisplay(*capture), configuration());
  run.start();
  auto shows = [](const SampleBuffer& f, const scenes::Window& w, int x, int y) {
    return pixel(f, size_t(x), size_t(y)) == (0xff000000 | w.rgb);
  };
  auto frame = run.frames.waitFor([&](auto& f) {
    return shows(f, scenes::red, scenes::red.x, scenes::red.y) && shows(f, scenes::blue, scenes::blue.x, scenes::blue.y);
  });
  ASSERT_TRUE(frame);
  auto& buffer = *frame->imageBuffer;
  EXPECT_EQ(buffer.width, 640u);
  EXPECT_EQ(buffer.height, 480u);
  EXPECT_EQ(buffer.bytesPerRow, 640u * 4);
  for (auto& w : {scenes::red, scenes::blue}) {
    SCOPED_TRACE(w.rgb);
    int right = w.x + w.width - 1, bottom = w.y + w.height - 1;
    EXPECT_TRUE(shows(*frame, w, right, bottom));
    EXPECT_FALSE(shows(*frame, w, right + 1, bottom));
    EXPECT_FALSE(shows(*frame, w, w.x - 1, w.y));
    EXPECT_FALSE(shows(*frame, w, w.x, w.y - 1));
  }
  EXPECT_TRUE(everyPixel(*frame, [](uint32_t p) { return p >> 24 == 0xff; }));
}

TEST(X11Stream, ACropShowsItsRectangleOnly) {
  e2e::Xvfb server(320, 240);
  auto b = e2e::paintWindow(server, 100, 100, 30, 30, 0xabcdef);
  auto capture = x11test::captureOn(server);
  auto c = configuration(50, 40);
  c.sourceRect = platform::Rect{90, 95, 50, 40};
  Running run(*capture, wholeDisplay(*capture), c);
  run.start();
  auto frame = run.frames.waitFor([](auto& f) { return pixel(f, 10, 5) == 0xffabcdef; });
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->imageBuffer->width, 50u);
  EXPECT_EQ(frame->imageBuffer->height, 40u);
  EXPECT_EQ(pixel(*frame, 39, 34), 0xffabcdef);
  EXPECT_NE(pixel(*frame, 9, 5), 0xffabcdefu);
  EXPECT_NE(pixel(*frame, 10, 4), 0xffabcdefu);
  EXPECT_NE(pixel(*frame, 40, 34), 0xffabcdefu);
  EXPECT_NE(pixel(*frame, 39, 35), 0xffabcdefu);
}

TEST(X11Stream, AScaledFrameKeepsTheShapeWithZeroBarsWhenAsked) {
  e2e::Xvfb server(320, 240);
  auto left = e2e::paintWindow(server, 0, 0, 160, 240, 0xff0000);
  auto right = e2e::paintWindow(server, 160, 0, 160, 240, 0x0000ff);
  auto capture = x11test::captureOn(server);
  auto c = configuration(160, 160);
  c.preservesAspectRatio = true;
  Running run(*capture, wholeDisplay(*capture), c);
  run.start();
  // 320 × 240 fits 160 × 160 as 160 × 120, 20 rows down.
  auto frame = run.frames.waitFor(
      [](auto& f) { return pixel(f, 40, 80) == 0xffff0000 && pixel(f, 120, 80) == 0xff0000ff; });
  ASSERT_TRUE(frame);
  for (size_t x = 0; x < 160; x += 7) {
    EXPECT_EQ(pixel(*frame, x, 0), 0u);
    EXPECT_EQ(pixel(*frame, x, 19), 0u);
    EXPECT_EQ(pixel(*frame, x, 140), 0u);
    EXPECT_EQ(pixel(*frame, x, 159), 0u);
    EXPECT_EQ(pixel(*frame, x, 20) >> 24, 0xffu);
    EXPECT_EQ(pixel(*frame, x, 139) >> 24, 0xffu);
  }
  EXPECT_EQ(pixel(*frame, 0, 20), 0xffff0000);
  EXPECT_EQ(pixel(*frame, 159, 139), 0xff0000ff);

  // Without the shape kept, the frame is filled.
  Running stretched(*capture, wholeDisplay(*capture), configuration(160, 160));
  stretched.start();
  frame = stretched.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xffff0000; });
  ASSERT_TRUE(frame);
  EXPECT_EQ(pixel(*frame, 159, 159), 0xff0000ff);
}

TEST(X11Stream, ACoveredWindowIsCapturedWholeAtTheGivenSize) {
  e2e::Xvfb server(320, 240);
  auto covered = e2e::paintWindow(server, 50, 50, 100, 80, 0xff0000);
  auto cover = e2e::paintWindow(server, 40, 40, 200, 150, 0x0000ff);
  auto capture = x11test::captureOn(server);
  Running run(*capture, windowOf(*capture, covered.id, 100, 80), configuration(200, 160));
  run.start();
  auto red = [](uint32_t p) { return p == 0xffff0000; };
  auto frame = run.frames.waitFor([&](auto& f) { return everyPixel(f, red); });
  ASSERT_TRUE(frame) << "a covered window shows only its own pixels";
  EXPECT_EQ(frame->imageBuffer->width, 200u);
  EXPECT_EQ(frame->imageBuffer->height, 160u);

  // Its changes show while covered, and while partly off the screen.
  auto all = [](uint32_t color) {
    return [color](const SampleBuffer& f) { return everyPixel(f, [color](uint32_t p) { return p == color; }); };
  };
  x11test::tell(covered, "color 00ff00");
  EXPECT_TRUE(run.frames.waitFor(all(0xff00ff00)));
  x11test::tell(covered, "move 280 200");
  x11test::tell(covered, "color 00ffff");
  EXPECT_TRUE(run.frames.waitFor(all(0xff00ffff)));

  // Unmapped, it gives no frame; mapped again, it does.
  x11test::tell(covered, "unmap");
  x11test::tell(covered, "color ffff00");
  EXPECT_FALSE(run.frames.waitFor(all(0xffffff00), 300ms));
  x11test::tell(covered, "map");
  EXPECT_TRUE(run.frames.waitFor(all(0xffffff00)));
}

TEST(X11Stream, AWindowUnderAWindowManagerIsCapturedWithoutItsFrame) {
  if (!x11test::installed("openbox")) GTEST_SKIP() << "openbox is not installed";
  e2e::Xvfb server(320, 240);
  e2e::Openbox manager(server);
  auto painter = e2e::paintWindow(server, 20, 20, 120, 90, 0x00ff00);
  auto capture = x11test::captureOn(server);
  Running run(*capture, windowOf(*capture, painter.id, 120, 90), configuration());
  run.start();
  auto frame = run.frames.waitFor([](auto& f) { return everyPixel(f, [](uint32_t p) { return p == 0xff00ff00; }); });
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->imageBuffer->width, 120u);
  EXPECT_EQ(frame->imageBuffer->height, 90u);
}

void expectExcludedWindowLeavesNoPixel(e2e::Xvfb& server) {
  auto below = e2e::paintWindow(server, 50, 50, 100, 100, 0x0000ff, "below");
  auto excluded = e2e::paintWindow(server, 100, 100, 100, 100, 0x00ff00, "excluded");
  auto capture = x11test::captureOn(server);
  auto content = capture->shareableContent();
  std::vector<platform::RunningApplication> leftOut;
  for (auto& a : content.applications)
    if (a.processID == excluded.process->pid()) leftOut.push_back(a);
  ASSERT_EQ(leftOut.size(), 1u);
  Running run(*capture, ContentFilter::excluding(content.displays.at(0), leftOut), configuration());
  run.start();
  // Where the excluded window covers the one below, the one below shows.
  auto frame = run.frames.waitFor([&](auto& f) { return pixel(f, 120, 120) == 0xff0000ff; });
  ASSERT_TRUE(frame);
  EXPECT_TRUE(everyPixel(*frame, [](uint32_t p) { return p != 0xff00ff00; })) << "a pixel of the excluded window";
  EXPECT_EQ(pixel(*frame, 149, 149), 0xff0000ff);
  // Over the root, its background shows: black (-br).
  EXPECT_EQ(pixel(*frame, 170, 170), black);

  // Changes of the excluded window never show; changes beneath it do.
  x11test::tell(excluded, "color 00fe00");
  x11test::tell(below, "color ff0000");
  frame = run.frames.waitFor([&](auto& f) { return pixel(f, 120, 120) == 0xffff0000; });
  ASSERT_TRUE(frame);
  EXPECT_TRUE(everyPixel(*frame, [](uint32_t p) { return (p & 0xffff00ff) != 0xff000000 || p == black; }));
  // Moved, it still leaves the same picture; the one below changes colour
  // again so that the frame looked at is one made after the move.
  x11test::tell(excluded, "move 20 20");
  x11test::tell(below, "color ff0001");
  frame = run.frames.waitFor([&](auto& f) { return pixel(f, 120, 120) == 0xffff0001; });
  ASSERT_TRUE(frame);
  EXPECT_EQ(pixel(*frame, 30, 30), black);
  EXPECT_EQ(pixel(*frame, 60, 60), 0xffff0001);
  EXPECT_EQ(pixel(*frame, 170, 170), black);
  EXPECT_TRUE(everyPixel(*frame, [](uint32_t p) { return p != 0xff00fe00; }));
}

TEST(X11Stream, AnExcludedApplicationLeavesNoPixelAndShowsWhatLiesBeneath) {
  e2e::Xvfb server(320, 240, {"-br"});  // a black root, so that black means the root
  expectExcludedWindowLeavesNoPixel(server);
}

TEST(X11Stream, AnExcludedApplicationUnderAWindowManagerLeavesNoPixel) {
  if (!x11test::installed("openbox")) GTEST_SKIP() << "openbox is not installed";
  e2e::Xvfb server(320, 240, {"-br"});
  e2e::Openbox manager(server);
  auto below = e2e::paintWindow(server, 20, 20, 200, 150, 0x0000ff, "below");
  auto excluded = e2e::paintWindow(server, 60, 60, 100, 80, 0x00ff00, "excluded");
  auto capture = x11test::captureOn(server);
  platform::ShareableContent content;
  std::vector<platform::RunningApplication> leftOut;
  e2e::eventually([&] {  // listed once the window manager marks it
    content = capture->shareableContent();
    leftOut.clear();
    for (auto& a : content.applications)
      if (a.processID == excluded.process->pid()) leftOut.push_back(a);
    return !leftOut.empty();
  });
  ASSERT_EQ(leftOut.size(), 1u);
  x11test::Client client(server);
  auto [x, y] = client.origin(excluded.id);
  int insideX = x + 10, insideY = y + 10;
  Running run(*capture, ContentFilter::excluding(content.displays.at(0), leftOut), configuration());
  run.start();
  auto frame = run.frames.waitFor([&](auto& f) { return pixel(f, insideX, insideY) == 0xff0000ff; });
  ASSERT_TRUE(frame);
  EXPECT_TRUE(everyPixel(*frame, [](uint32_t p) { return p != 0xff00ff00; }));
}

// The applications on `server` whose process is `pid`.
std::vector<platform::RunningApplication> applicationsOf(platform::Capture& capture, pid_t pid) {
  std::vector<platform::RunningApplication> found;
  for (auto& a : capture.shareableContent().applications)
    if (a.processID == pid) found.push_back(a);
  return found;
}

// A left-out window over the bare root leaves the root's background, whatever
// kind it is: a colour, a tiled pixmap (which no request reads back), or the
// pixmap a desktop names in _XROOTPMAP_ID.
TEST(X11Stream, AnExcludedApplicationOverTheRootLeavesTheRootsBackground) {
  // A 3x2 tile, so that a tile placed anywhere but at the root's origin shows.
  char tile[] = "/tmp/pellix-tile-XXXXXX";
  int fd = mkstemp(tile);
  ASSERT_GE(fd, 0);
  struct Removed {
    const char* path;
    ~Removed() { unlink(path); }
  } removed{tile};
  std::string bitmap = "#define t_width 3\n#define t_height 2\nstatic unsigned char t_bits[] = {\n0x05, 0x02};\n";
  ASSERT_EQ(write(fd, bitmap.data(), bitmap.size()), ssize_t(bitmap.size()));
  close(fd);
  struct Case {
    std::string name;
    std::vector<std::string> xsetroot;  // empty: _XROOTPMAP_ID instead
    std::function<uint32_t(int, int)> expected;
  };
  std::vector<Case> cases = {
      {"solid colour", {"xsetroot", "-solid", "#203040"}, [](int, int) { return 0xff203040u; }},
      {"tiled bitmap",
       {"xsetroot", "-bitmap", tile, "-fg", "#ff8000", "-bg", "#0080ff"},
       [](int x, int y) {
         static const int bits[2] = {0x05, 0x02};
         return (bits[y % 2] >> (x % 3)) & 1 ? 0xffff8000u : 0xff0080ffu;
       }},
      {"_XROOTPMAP_ID", {}, [](int, int) { return 0xff405060u; }},
  };
  for (auto& test : cases) {
    SCOPED_TRACE(test.name);
    e2e::Xvfb server(320, 240, {"-br"});
    x11test::Client client(server);  // keeps the _XROOTPMAP_ID pixmap alive
    if (!test.xsetroot.empty()) {
      x11test::runOn(server, test.xsetroot);
    } else {
      auto* c = client.get();
      auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
      xcb_pixmap_t pixmap = xcb_generate_id(c);
      xcb_create_pixmap(c, screen->root_depth, pixmap, client.root(), 320, 240);
      xcb_gcontext_t gc = xcb_generate_id(c);
      uint32_t color = 0x405060;
      xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND, &color);
      xcb_rectangle_t all{0, 0, 320, 240};
      xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, client.root(), client.atom("_XROOTPMAP_ID"), XCB_ATOM_PIXMAP,
                          32, 1, &pixmap);
      free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    auto excluded = e2e::paintWindow(server, 100, 80, 80, 60, 0x00ff00, "excluded");
    auto capture = x11test::captureOn(server);
    auto leftOut = applicationsOf(*capture, excluded.process->pid());
    ASSERT_EQ(leftOut.size(), 1u);
    Running run(*capture, wholeDisplay(*capture, leftOut), configuration());
    run.start();
    auto frame = run.frames.waitFor([&](auto& f) { return pixel(f, 140, 110) == test.expected(140, 110); });
    if (!frame) {
      ADD_FAILURE() << "no frame shows the background where the window is";
      continue;
    }
    size_t wrong = 0;
    for (int y = 80; y < 140; y++)
      for (int x = 100; x < 180; x++) wrong += pixel(*frame, size_t(x), size_t(y)) != test.expected(x, y);
    EXPECT_EQ(wrong, 0u);
    if (!test.xsetroot.empty()) {  // the server paints the same around it
      EXPECT_EQ(pixel(*frame, 10, 11), test.expected(10, 11));
    }
    // Reading the background makes no change of its own: the still screen stays idle.
    std::this_thread::sleep_for(100ms);
    size_t completes = run.frames.count(platform::complete);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(run.frames.count(platform::complete), completes);
  }
}

// Never a pixel of a left-out window, also in the frame right after it maps,
// moves or raises: every frame is looked at while it does so, time after time.
TEST(X11Stream, AnExcludedWindowThatMapsMovesOrRaisesNeverShowsInAnyFrame) {
  e2e::Xvfb server(320, 240, {"-br"});
  auto below = e2e::paintWindow(server, 0, 0, 320, 240, 0x0000ff, "below");
  auto excluded = e2e::paintWindow(server, 10, 10, 60, 60, 0x00ff00, "excluded");
  auto over = e2e::paintWindow(server, 120, 90, 80, 60, 0xff0000, "over");
  auto capture = x11test::captureOn(server);
  auto leftOut = applicationsOf(*capture, excluded.process->pid());
  ASSERT_EQ(leftOut.size(), 1u);
  auto c = configuration();
  c.minimumFrameInterval = {1, 1000};
  // Counted by the stream's queue until `run` stops it: declared before it.
  std::atomic<size_t> frames = 0, showing = 0;
  Running run(*capture, wholeDisplay(*capture, leftOut), c);
  run.frames.each = [&](const SampleBuffer& f) {
    frames++;
    if (!everyPixel(f, [](uint32_t p) { return p != 0xff00ff00; })) showing++;
  };
  run.start();
  // The window below changes all the time (never to the left-out colour), so
  // that frames follow each other and each change of the left-out window
  // lands somewhere in the making of one.
  x11test::tell(below, "animate 500");
  ASSERT_TRUE(run.frames.next());
  for (int round = 0; round < 400; round++) {
    int x = (round * 97) % 260, y = (round * 53) % 180;
    x11test::tell(excluded, "move " + std::to_string(x) + " " + std::to_string(y));
    ASSERT_TRUE(run.frames.next());
    if (round % 20 == 0) {
      x11test::tell(excluded, "move 130 100");
      x11test::tell(excluded, "unmap");
      ASSERT_TRUE(run.frames.next());
      x11test::tell(excluded, "map");
      ASSERT_TRUE(run.frames.next());
      x11test::tell(over, "raise");
      ASSERT_TRUE(run.frames.next());
      x11test::tell(excluded, "raise");
      ASSERT_TRUE(run.frames.next());
    }
  }
  EXPECT_EQ(showing.load(), 0u) << "of " << frames.load() << " frames";
}

TEST(X11Stream, ThePointerIsDrawnOnlyWhenAsked) {
  e2e::Xvfb server(320, 240);
  auto painter = e2e::paintWindow(server, 0, 0, 320, 240, 0x808080);
  x11test::Client client(server);
  client.pointTo(100, 100);
  auto capture = x11test::captureOn(server);
  auto grey = [](uint32_t p) { return p == 0xff808080; };
  auto pointerShows = [&](const SampleBuffer& f) {
    for (size_t y = 80; y < 130; y++)
      for (size_t x = 80; x < 130; x++)
        if (!grey(pixel(f, x, y))) return true;
    return false;
  };
  {
    Running run(*capture, wholeDisplay(*capture), configuration());
    run.start();
    auto frame = run.frames.waitFor([&](auto& f) { return grey(pixel(f, 10, 10)); });
    ASSERT_TRUE(frame);
    EXPECT_TRUE(everyPixel(*frame, grey));
  }
  auto c = configuration();
  c.showsCursor = true;
  Running run(*capture, wholeDisplay(*capture), c);
  run.start();
  auto frame = run.frames.waitFor([&](auto& f) { return grey(pixel(f, 10, 10)) && pointerShows(f); });
  ASSERT_TRUE(frame);
  EXPECT_TRUE(grey(pixel(*frame, 200, 200)));
  // A move of the pointer alone makes a new frame.
  client.pointTo(250, 200);
  frame = run.frames.waitFor([&](auto& f) { return !pointerShows(f) && !grey(pixel(f, 250, 200)) ; });
  EXPECT_TRUE(frame);
}

TEST(X11Stream, AStillScreenGivesIdleFramesAndAChangeACompleteOne) {
  e2e::Xvfb server(320, 240);
  auto painter = e2e::paintWindow(server, 0, 0, 100, 100, 0x123456);
  auto capture = x11test::captureOn(server);
  Running run(*capture, wholeDisplay(*capture), configuration());
  run.start();
  ASSERT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xff123456; }));
  // Once a frame says nothing changed, the ten after it say so too.
  ASSERT_TRUE(e2e::eventually([&] { return run.frames.count(platform::idle) > 0; }));
  size_t completes = run.frames.count(platform::complete), idles = run.frames.count(platform::idle);
  EXPECT_TRUE(e2e::eventually([&] { return run.frames.count(platform::idle) >= idles + 10; }));
  EXPECT_EQ(run.frames.count(platform::complete), completes);

  x11test::tell(painter, "color 654321");
  EXPECT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xff654321; }));
}

// Frames are refreshed only where the screen changed since their buffer was
// last painted: every buffer of the pool must still end up equal to a whole grab.
TEST(X11Stream, FramesRefreshedInPartsMatchAWholeGrab) {
  e2e::Xvfb server(320, 240);
  auto a = e2e::paintWindow(server, 10, 10, 60, 40, 0x000001);
  auto b = e2e::paintWindow(server, 200, 150, 50, 50, 0x100000);
  auto capture = x11test::captureOn(server);
  auto c = configuration();
  c.queueDepth = 3;
  Running run(*capture, wholeDisplay(*capture), c);
  run.start();
  ASSERT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 10, 10) == 0xff000001; }));
  // Window a wanders and changes colour over more frames than there are buffers.
  for (int i = 2; i <= 6; i++) {
    x11test::tell(a, "move " + std::to_string(10 + 30 * i) + " " + std::to_string(5 * i));
    x11test::tell(a, "color 00000" + std::to_string(i));
    uint32_t want = 0xff000000u | uint32_t(i);
    ASSERT_TRUE(run.frames.waitFor([&](auto& f) { return pixel(f, 10 + 30 * i, 5 * i) == want; })) << i;
  }
  std::vector<uint8_t> whole;
  {
    Running fresh(*capture, wholeDisplay(*capture), configuration());
    fresh.start();
    auto frame = fresh.frames.next();
    ASSERT_TRUE(frame);
    auto& buffer = *frame->imageBuffer;
    whole.assign(buffer.baseAddress, buffer.baseAddress + buffer.bytesPerRow * buffer.height);
  }
  // Only b changes now, once per buffer and more: what lies outside it must be the whole grab.
  for (int i = 1; i <= 4; i++) {
    uint32_t want = 0xff100000u | uint32_t(i);
    x11test::tell(b, "color 10000" + std::to_string(i));
    auto frame = run.frames.waitFor([&](auto& f) { return pixel(f, 200, 150) == want; });
    ASSERT_TRUE(frame) << i;
    size_t wrong = 0;
    for (size_t y = 0; y < 240; y++)
      for (size_t x = 0; x < 320; x++) {
        bool inB = x >= 200 && x < 250 && y >= 150 && y < 200;
        const uint8_t* p = &whole[(y * 320 + x) * 4];
        uint32_t expected = inB ? want : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        if (pixel(*frame, x, y) != expected) wrong++;
      }
    EXPECT_EQ(wrong, 0u) << "frame " << i;
  }
}

TEST(X11Stream, HeldBuffersAreNotReused) {
  e2e::Xvfb server(320, 240);
  auto painter = e2e::paintWindow(server, 0, 0, 320, 240, 0x000001);
  auto capture = x11test::captureOn(server);
  auto c = configuration();
  c.queueDepth = 2;
  Running run(*capture, wholeDisplay(*capture), c, true);
  run.start();
  ASSERT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xff000001; }));
  x11test::tell(painter, "color 000002");
  ASSERT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xff000002; }));
  // Both buffers are held: changes make no frame, and the held ones stay as they were.
  x11test::tell(painter, "color 000003");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(run.frames.count(platform::complete), 2u);
  EXPECT_EQ(pixel(run.frames.kept.at(0), 0, 0), 0xff000001);
  EXPECT_EQ(pixel(run.frames.kept.at(1), 0, 0), 0xff000002);
  run.frames.drop();
  EXPECT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xff000003; }));
}

TEST(X11Stream, ADestroyedWindowStopsTheStreamOnce) {
  e2e::Xvfb server(320, 240);
  auto painter = e2e::paintWindow(server, 10, 10, 50, 50, 0x123456);
  auto capture = x11test::captureOn(server);
  Running run(*capture, windowOf(*capture, painter.id, 50, 50), configuration());
  run.start();
  ASSERT_TRUE(run.frames.waitFor([](auto& f) { return pixel(f, 0, 0) == 0xff123456; }));
  painter.process->closeIn();  // the painter ends, its window goes
  auto errors = run.stops.waitFor();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].description.find("was destroyed"), std::string::npos) << errors[0].description;
  EXPECT_NE(errors[0].code, platform::userDeclined);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(run.stops.seen().size(), 1u);
}

TEST(X11Stream, ALostServerStopsTheStreamOnce) {
  auto server = std::make_unique<e2e::Xvfb>(320, 240);
  auto capture = x11test::captureOn(*server);
  Running run(*capture, wholeDisplay(*capture), configuration());
  run.start();
  ASSERT_TRUE(run.frames.waitFor([](auto&) { return true; }));
  std::string display = server->display();
  server.reset();
  auto errors = run.stops.waitFor();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].description, "the connection to the X server " + display + " broke");
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(run.stops.seen().size(), 1u);
}

TEST(X11Stream, AGoneSourceFailsTheStart) {
  e2e::Xvfb server(320, 240);
  auto capture = x11test::captureOn(server);
  platform::Window ghost;
  ghost.windowID = 0x3fffff;
  ghost.frame = {0, 0, 10, 10};
  Running window(*capture, capture->windowFilter(ghost), configuration());
  try {
    window.start();
    ADD_FAILURE() << "a window that does not exist started";
  } catch (const platform::Error& error) {
    EXPECT_NE(error.code, platform::userDeclined);
    EXPECT_NE(error.description.find("no window"), std::string::npos) << error.description;
  }
  auto filter = wholeDisplay(*capture);
  filter.display.displayID = 77;
  Running display(*capture, filter, configuration());
  EXPECT_THROW(display.start(), platform::Error);
}

}  // namespace

namespace {

// Writes an X authority file with one cookie for any display; its path.
std::string authority(const std::string& name, const std::string& cookie) {
  std::string path = "/tmp/pellix-" + name + "-" + std::to_string(getpid()) + ".auth";
  auto field = [](const std::string& bytes) {
    return std::string{char(bytes.size() >> 8), char(bytes.size() & 0xff)} + bytes;
  };
  std::string entry = std::string("\xff\xff", 2) + field("") + field("") + field("MIT-MAGIC-COOKIE-1") + field(cookie);
  FILE* file = fopen(path.c_str(), "wb");
  fwrite(entry.data(), 1, entry.size(), file);
  fclose(file);
  return path;
}

TEST(X11Stream, AnUntrustedClientIsDeclined) {
  if (!x11test::installed("xauth")) GTEST_SKIP() << "xauth is not installed";
  auto trusted = authority("trusted", "0123456789abcdef");
  e2e::Xvfb server(320, 240, {"+extension", "SECURITY", "-auth", trusted});
  std::string untrusted = "/tmp/pellix-untrusted-" + std::to_string(getpid()) + ".auth";
  unlink(untrusted.c_str());
  {
    e2e::Child xauth({"xauth", "-q", "-f", untrusted, "generate", server.display(), ".", "untrusted", "timeout", "0"},
                     {{"DISPLAY", server.display()}, {"XAUTHORITY", trusted}});
    xauth.closeIn();
    ASSERT_EQ(xauth.wait().code, 0);
  }
  setenv("XAUTHORITY", untrusted.c_str(), 1);
  auto capture = x11test::captureOn(server);
  EXPECT_TRUE(capture->allowed());
  Running run(*capture, wholeDisplay(*capture), configuration());
  try {
    run.start();
    ADD_FAILURE() << "an untrusted client started a capture";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.code, platform::userDeclined) << error.description;
  }
  unsetenv("XAUTHORITY");
}

}  // namespace
