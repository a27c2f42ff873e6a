#include "platform/wayland/outputs.h"

#include <gtest/gtest.h>

namespace {

using platform::wayland::Box;
using platform::wayland::OutputState;

OutputState output(uint32_t global, std::string name, int32_t width, int32_t height, int32_t scale = 1,
                   std::optional<Box> logical = std::nullopt, int32_t transform = 0) {
  OutputState o;
  o.global = global;
  o.name = std::move(name);
  o.modeWidth = width;
  o.modeHeight = height;
  o.scale = scale;
  o.logical = logical;
  o.transform = transform;
  return o;
}

TEST(WaylandOutputs, IdsComeFromTheNameAloneAndDiffer) {
  auto a = output(40, "HEADLESS-1", 1280, 720);
  auto b = output(41, "HEADLESS-2", 1280, 720);
  auto later = output(57, "HEADLESS-1", 640, 480);  // the same output, bound again by another process
  EXPECT_EQ(platform::wayland::displayID(a), platform::wayland::displayID(later));
  EXPECT_NE(platform::wayland::displayID(a), platform::wayland::displayID(b));
  EXPECT_NE(platform::wayland::displayID(a), 0u);
  EXPECT_EQ(platform::wayland::displayName(output(9, "", 10, 10)), "output 9");
}

TEST(WaylandOutputs, PointsAndPixelsFollowTheScaleAndTheTransform) {
  struct Case {
    OutputState output;
    int64_t x, y, width, height;          // points
    int64_t pixelWidth, pixelHeight;
  } cases[] = {
      {output(1, "A", 1920, 1080, 1, Box{0, 0, 1920, 1080}), 0, 0, 1920, 1080, 1920, 1080},
      {output(1, "A", 2560, 1440, 2, Box{1920, 0, 1280, 720}), 1920, 0, 1280, 720, 2560, 1440},
      // A fractional scale is seen only in xdg-output's logical size.
      {output(1, "A", 2880, 1800, 2, Box{0, 0, 1920, 1200}), 0, 0, 1920, 1200, 2880, 1800},
      // Without xdg-output: the pixels over the integer scale.
      {output(1, "A", 2560, 1440, 2), 0, 0, 1280, 720, 2560, 1440},
      // Turned a quarter: the frames are as tall as the mode is wide.
      {output(1, "A", 1920, 1080, 1, Box{0, 0, 1080, 1920}, 1), 0, 0, 1080, 1920, 1080, 1920},
  };
  for (auto& c : cases) {
    auto d = platform::wayland::display(c.output);
    auto mode = platform::wayland::pixelSize(c.output);
    EXPECT_EQ(d.x, c.x);
    EXPECT_EQ(d.y, c.y);
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_EQ(mode.pixelWidth, c.pixelWidth);
    EXPECT_EQ(mode.pixelHeight, c.pixelHeight);
  }
}

TEST(WaylandOutputs, TheOutputAtTheOriginComesFirst) {
  auto left = output(1, "DP-1", 1920, 1080, 1, Box{-1920, 0, 1920, 1080});
  auto main = output(2, "DP-2", 1920, 1080, 1, Box{0, 0, 1920, 1080});
  auto right = output(3, "DP-3", 1920, 1080, 1, Box{1920, 0, 1920, 1080});
  auto names = [](std::vector<platform::Display> displays) {
    std::vector<std::string> all;
    for (auto& d : displays) all.push_back(d.name);
    return all;
  };
  EXPECT_EQ(names(platform::wayland::displays({left, main, right})),
            (std::vector<std::string>{"DP-2", "DP-1", "DP-3"}));
  EXPECT_EQ(names(platform::wayland::displays({right, left})), (std::vector<std::string>{"DP-3", "DP-1"}));
  EXPECT_TRUE(platform::wayland::displays({}).empty());
}

TEST(WaylandOutputs, TheAreaIsInPixelsAtTheOutputsScale) {
  auto scaled = output(1, "A", 2560, 1440, 2, Box{0, 0, 1280, 720});
  struct Case {
    OutputState output;
    std::optional<platform::Rect> sourceRect;  // points
    Box area;
  } cases[] = {
      {scaled, std::nullopt, {0, 0, 2560, 1440}},
      {scaled, platform::Rect{50, 50, 400, 300}, {100, 100, 800, 600}},
      {scaled, platform::Rect{0.5, 0, 0.5, 25}, {1, 0, 1, 50}},
      {output(1, "A", 1280, 720), platform::Rect{1270, 710, 20, 20}, {1270, 710, 20, 20}},  // reaches past
  };
  for (auto& c : cases) EXPECT_EQ(platform::wayland::area(c.output, c.sourceRect), c.area);
}

TEST(WaylandOutputs, OnlyUprightOutputsWithAModeAreCaptured) {
  EXPECT_FALSE(platform::wayland::uncapturable(output(1, "A", 1280, 720)));
  EXPECT_EQ(platform::wayland::uncapturable(output(1, "A", 0, 0)), "it has no mode (it is off)");
  EXPECT_EQ(platform::wayland::uncapturable(output(1, "A", 1280, 720, 1, std::nullopt, 1)),
            "it is rotated or flipped (transform 1), which this tool does not capture yet");
}

}  // namespace
