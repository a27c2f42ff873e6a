#include "platform/x11/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

namespace platform::x11 {

// So that a failed case prints the boxes.
void PrintTo(const Box& box, std::ostream* out) {
  *out << "{" << box.x << ", " << box.y << ", " << box.width << ", " << box.height << "}";
}

namespace {

TEST(X11Geometry, BoxesCombineClipAndFit) {
  const Box screen{0, 0, 1920, 1080}, second{1920, 0, 1280, 1024};
  struct Case {
    const char* what;
    Box found, expected;
  } cases[] = {
      {"an empty box adds nothing", united({}, {1, 2, 3, 4}), {1, 2, 3, 4}},
      {"nor does one of no width, wherever it is", united({1, 2, 3, 4}, {50, 50, 0, 9}), {1, 2, 3, 4}},
      {"two apart: the box holding both", united({0, 0, 10, 10}, {20, 5, 5, 10}), {0, 0, 25, 15}},
      {"one inside the other", united({0, 0, 10, 10}, {2, 2, 3, 3}), {0, 0, 10, 10}},
      {"overlapping", intersection({0, 0, 10, 10}, {5, 5, 10, 10}), {5, 5, 5, 5}},
      {"edges that only touch share nothing", intersection({0, 0, 10, 10}, {10, 0, 5, 5}), {}},
      {"apart", intersection({0, 0, 10, 10}, {30, 30, 5, 5}), {}},
      {"one inside the other", intersection({2, 2, 3, 3}, {0, 0, 10, 10}), {2, 2, 3, 3}},
      {"left of and above the origin", intersection({-5, -5, 10, 10}, {0, 0, 100, 100}), {0, 0, 5, 5}},
      {"clipped to a picture", clip({-3, 2, 10, 10}, 5, 8), {0, 2, 5, 6}},
      {"outside a picture", clip({6, 0, 3, 3}, 5, 5), {}},
      {"moved", shifted({1, 2, 3, 4}, -1, 10), {0, 12, 3, 4}},

      {"stretched to the whole frame", fit(1920, 1080, 640, 480, false), {0, 0, 640, 480}},
      {"wider than the frame: bars above and below", fit(1920, 1080, 640, 480, true), {0, 60, 640, 360}},
      {"taller than the frame: bars left and right", fit(1080, 1920, 640, 480, true), {185, 0, 270, 480}},
      {"the frame's own shape fills it", fit(320, 240, 640, 480, true), {0, 0, 640, 480}},
      {"a side rounds to the nearest pixel, centered", fit(3, 2, 100, 100, true), {0, 16, 100, 67}},
      {"never thinner than a pixel", fit(10000, 1, 100, 100, true), {0, 49, 100, 1}},
      {"a source of no size fills the frame", fit(0, 0, 640, 480, true), {0, 0, 640, 480}},

      {"a whole crop", cropArea(screen, {0, 0, 1920, 1080}), screen},
      {"the origin rounds, the size truncates", cropArea(screen, {10.4, 20.6, 100.9, 50.2}), {10, 21, 100, 50}},
      {"on a second display, halves round away from zero", cropArea(second, {0.5, -2.5, 10, 10}),
       {1921, -3, 10, 10}},
      {"a crop of no number takes nothing", cropArea(second, {NAN, NAN, NAN, NAN}), {1920, 0, 0, 0}},
      {"a huge crop stays far from overflowing", cropArea(screen, {-1e30, 0, 1e30, 1e30}),
       {-(1 << 24), 0, 1 << 24, 1 << 24}},
  };
  for (auto& c : cases) EXPECT_EQ(c.found, c.expected) << c.what;
  EXPECT_TRUE(Box({5, 5, 0, 9}).empty());
  EXPECT_TRUE(Box({5, 5, 9, -1}).empty());
  EXPECT_FALSE(Box({-5, -5, 1, 1}).empty());
}

}  // namespace
}  // namespace platform::x11
