// The video job through the real binary on a private X server.
#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "scenes.h"
#include "x11_support.h"

namespace {

using namespace std::chrono_literals;

using Frame = scenes::Picture;
using scenes::opaque;
using scenes::paint;
using scenes::Pixel;

class Video : public testing::Test {
 protected:
  e2e::Xvfb server{640, 480};

  // Starts the tool and reads its `skip` + 1-th frame of width x height.
  Frame frameOf(const std::vector<std::string>& arguments, int width, int height, int skip = 2) {
    e2e::Child child(e2e::tool(arguments), server.environment());
    Frame frame{width, height, {}};
    size_t size = size_t(width) * size_t(height) * 4;
    for (int i = 0; i <= skip; i++) frame.bytes = child.readOut(size);
    EXPECT_EQ(frame.bytes.size(), size) << child.waitErr("", 100ms);
    child.signal(SIGTERM);
    auto ending = child.wait();
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.code, 0);
    return frame;
  }
};

TEST_F(Video, FramesHoldTheExactPixelsOfTheScreen) {
  auto red = paint(server, scenes::red);
  auto blue = paint(server, scenes::blue);
  Frame frame = frameOf({"--fps", "20"}, 640, 480);
  EXPECT_EQ(frame.others(scenes::red), 0);
  EXPECT_EQ(frame.others(scenes::blue), 0);
  EXPECT_NE(frame.at(300, 150), opaque(scenes::red.rgb));  // past its bottom right corner
}

// A frame is made of the frame before and what changed since: every frame
// must still be the whole screen at one moment. One window repaints itself in
// a new colour all the time, narrow (the rest of its rows unchanged) or as
// wide as the screen (whole rows), beside a still one.
TEST_F(Video, FramesThatChangeInPartAreEachTheWholeScreen) {
  struct Case {
    int x, y, width, height;
  } cases[] = {{20, 20, 100, 50}, {0, 300, 640, 60}};
  auto still = e2e::paintWindow(server, 400, 100, 50, 40, 0x2040c0);
  for (auto& c : cases) {
    auto changing = e2e::paintWindow(server, c.x, c.y, c.width, c.height, 0x000000, "changing");
    x11test::tell(changing, "animate 200");
    e2e::Child child(e2e::tool({"--fps", "50"}), server.environment());
    Frame first{640, 480, {}};
    std::set<uint32_t> colours;
    for (int n = 0; n < 40; n++) {
      Frame frame{640, 480, child.readOut(640 * 480 * 4)};
      ASSERT_EQ(frame.bytes.size(), 640u * 480 * 4) << child.waitErr("", 100ms);
      if (n == 0) first = frame;
      Pixel corner = frame.at(c.x, c.y);
      colours.insert(uint32_t(corner.r) << 16 | corner.g << 8 | corner.b);
      // The first pixel that is not what it should be, if any.
      std::optional<std::pair<int, int>> wrong;
      for (int y = 0; y < 480 && !wrong; y++)
        for (int x = 0; x < 640 && !wrong; x++) {
          bool inChanging = x >= c.x && x < c.x + c.width && y >= c.y && y < c.y + c.height;
          bool inStill = x >= 400 && x < 450 && y >= 100 && y < 140;
          Pixel expected = inChanging ? corner : inStill ? opaque(0x2040c0) : first.at(x, y);
          if (!(frame.at(x, y) == expected)) wrong = {x, y};
        }
      ASSERT_FALSE(wrong) << "frame " << n << " at " << wrong->first << "," << wrong->second;
    }
    EXPECT_GT(colours.size(), 10u) << "the window hardly changed";
    child.signal(SIGTERM);
    EXPECT_EQ(child.wait().code, 0);
  }
}

TEST_F(Video, ACropIsNormalisedAndCut) {
  auto red = paint(server, scenes::red);  // at 100, 50
  // -50 wide from x 130 is the 50 pixels from x 80: 20 outside the window, 30 inside.
  Frame frame = frameOf({"--crop", "130,40,-50,30.9"}, 50, 30);
  EXPECT_EQ(frame.at(25, 15), opaque(scenes::red.rgb));
  EXPECT_EQ(frame.at(20, 10), opaque(scenes::red.rgb));
  EXPECT_NE(frame.at(19, 10), opaque(scenes::red.rgb));
  EXPECT_NE(frame.at(20, 9), opaque(scenes::red.rgb));
}

// Two monitors side by side on one screen, A (0 to 319) and B (320 to 639).
// A crop shows its display's pixels, one for one, and zeros where its display
// does not reach: off the screen, and over the neighbouring monitor.
TEST_F(Video, ACropShowsItsDisplaysExactPixelsAndZerosBeyondIt) {
  if (!x11test::installed("xrandr")) GTEST_SKIP() << "xrandr is not installed";
  x11test::runOn(server, {"xrandr", "--setmonitor", "A", "320/85x480/127+0+0", "screen"});
  x11test::runOn(server, {"xrandr", "--setmonitor", "B", "320/85x480/127+320+0", "none"});
  auto blue = e2e::paintWindow(server, 0, 0, 640, 480, 0x0000ff);
  auto red = e2e::paintWindow(server, 30, 0, 40, 100, 0xff0000);
  auto green = e2e::paintWindow(server, 600, 440, 40, 40, 0x00ff00);
  auto screen = [](int x, int y) {
    if (x >= 30 && x < 70 && y < 100) return opaque(0xff0000);
    if (x >= 600 && y >= 440) return opaque(0x00ff00);
    return opaque(0x0000ff);
  };
  std::map<std::string, std::pair<int, int>> displays;  // name: id, x
  auto listing = nlohmann::json::parse(e2e::run({"list"}, server.environment()).out);
  for (auto& d : listing["displays"]) displays[d["name"]] = {d["id"], d["x"]};
  ASSERT_EQ(displays.size(), 2u) << listing;

  struct Case {
    const char* display;
    double x, y, width, height;
  } cases[] = {
      {"A", 1000, 1000, 50, 50},    // wholly off the screen
      {"A", -10, -20, 40, 30},      // partly above and left of it
      {"B", 300, 460, 40, 30},      // partly right of and below it
      {"A", 300, 80, 40, 30},       // running past A into B
      {"B", -20, 80, 40, 30},       // running past B into A
      {"A", 0.6, 0.4, 100.6, 50.9}, // fractional: 100 by 50 from (1, 0), not rescaled
  };
  for (auto& c : cases) {
    auto [id, left] = displays.at(c.display);
    int width = int(c.width), height = int(c.height);
    std::ostringstream crop;
    crop << c.x << "," << c.y << "," << c.width << "," << c.height;
    SCOPED_TRACE(crop.str() + " on " + c.display);
    Frame frame = frameOf({"--display", std::to_string(id), "--crop", crop.str()}, width, height);
    if (frame.bytes.size() != size_t(width) * size_t(height) * 4) continue;
    int wrong = 0;
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) {
        int dx = int(std::lround(c.x)) + x, dy = int(std::lround(c.y)) + y;  // on the display
        bool shown = dx >= 0 && dx < 320 && dy >= 0 && dy < 480;
        Pixel want = shown ? screen(left + dx, dy) : Pixel{0, 0, 0, 0};
        if (!(frame.at(x, y) == want) && wrong++ < 3)
          ADD_FAILURE() << "at " << x << "," << y << ": " << frame.at(x, y) << " instead of " << want;
      }
    EXPECT_EQ(wrong, 0);
  }
}

TEST_F(Video, ACoveredWindowIsCapturedAtTheRequestedSize) {
  auto green = paint(server, scenes::covered);
  auto cover = paint(server, scenes::cover);
  Frame frame = frameOf({"--window", std::to_string(green.id), "--size", "100,50"}, 100, 50);
  EXPECT_EQ(frame.others(0, 0, 100, 50, opaque(scenes::covered.rgb)), 0);
}

TEST_F(Video, AnExcludedApplicationLeavesWhatIsBeneathVisible) {
  auto below = paint(server, scenes::below);
  auto above = paint(server, scenes::leftOut);
  Frame shown = frameOf({}, 640, 480);
  EXPECT_EQ(shown.others(scenes::leftOut), 0);
  Frame hidden = frameOf({"--exclude-pid", std::to_string(above.process->pid())}, 640, 480);
  EXPECT_EQ(hidden.others(scenes::below), 0);
  EXPECT_EQ(hidden.others(0, 0, 640, 480, opaque(scenes::leftOut.rgb)), 640 * 480);
}

TEST_F(Video, ThePointerIsDrawnOnlyWithCursor) {
  auto plain = paint(server, scenes::underThePointer);
  auto differs = [](const Frame& f) { return f.others(0, 0, f.width, f.height, opaque(scenes::underThePointer.rgb)); };
  EXPECT_EQ(differs(frameOf({"--crop", scenes::pointerCrop}, 40, 40)), 0);
  EXPECT_GT(differs(frameOf({"--crop", scenes::pointerCrop, "--cursor"}, 40, 40)), 10);
}

TEST_F(Video, DeliversAboutFpsFramesASecond) {
  e2e::Child child(e2e::tool({"--fps", "15", "--crop", "0,0,64,48"}), server.environment());
  const size_t frame = 64 * 48 * 4;
  ASSERT_EQ(child.readOut(frame).size(), frame);
  auto start = std::chrono::steady_clock::now();
  size_t frames = 0;
  while (std::chrono::steady_clock::now() - start < 2s) frames += child.readOut(frame, 500ms).size() / frame;
  EXPECT_GE(frames, 26u);
  EXPECT_LE(frames, 33u);
  child.signal(SIGTERM);
  EXPECT_EQ(child.wait().code, 0);
}

TEST_F(Video, EndsQuietlyWhenTheReaderCloses) {
  e2e::Child child(e2e::tool({"--crop", "0,0,64,48"}), server.environment());
  ASSERT_EQ(child.readOut(64 * 48 * 4).size(), 64u * 48 * 4);
  child.closeOut();
  auto ending = child.wait(5s);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
}

TEST_F(Video, EndsWithTwoWhenTheWindowIsDestroyed) {
  auto window = e2e::paintWindow(server, 10, 10, 100, 100, 0x00ff00);
  e2e::Child child(e2e::tool({"--window", std::to_string(window.id), "--size", "100,100"}), server.environment());
  ASSERT_EQ(child.readOut(100 * 100 * 4).size(), 100u * 100 * 4);
  window.process.reset();  // the window's client goes, and its window with it
  auto ending = child.wait(5s);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err.rfind("pellix-capture: the capture stopped: ", 0), 0u) << ending.err;
}

TEST_F(Video, AMissingWindowEndsBeforeAnyFrame) {
  auto ending = e2e::run({"--window", "12345", "--size", "10,10"}, server.environment());
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err, "pellix-capture: there is no window 12345 (closed, or on another desktop)\n");
  EXPECT_EQ(ending.out, "");
}

}  // namespace
