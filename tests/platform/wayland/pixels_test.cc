#include "platform/wayland/pixels.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using platform::wayland::Box;
using platform::wayland::FrameView;
using platform::wayland::Layout;
using platform::wayland::ScreenBuffer;

// A 4 × 3 buffer whose pixel (x, y) holds bytes x, y, 7, 0 (B, G, R, X in
// bgrx), rows padded to 20 bytes with 0xEE.
std::vector<uint8_t> sample() {
  std::vector<uint8_t> bytes(20 * 3, 0xee);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) {
      uint8_t* p = bytes.data() + y * 20 + x * 4;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 7, p[3] = 0;
    }
  return bytes;
}

using Pixel = std::array<uint8_t, 4>;
Pixel at(const std::vector<uint8_t>& frame, int width, int x, int y) {
  const uint8_t* p = frame.data() + (y * width + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

TEST(WaylandPixels, APartIsCopiedOpaqueUprightWithZerosPastTheBuffer) {
  auto bytes = sample();
  struct Case {
    Layout layout;
    bool yInvert;
    int originX, originY;
    Box part;
    // Frame pixel (x, y) → expected bytes.
    std::vector<std::pair<std::array<int, 2>, Pixel>> pixels;
  } cases[] = {
      {Layout::bgrx, false, 0, 0, {0, 0, 5, 4}, {{{0, 0}, {0, 0, 7, 255}}, {{3, 2}, {3, 2, 7, 255}}, {{4, 0}, {0, 0, 0, 0}}, {{0, 3}, {0, 0, 0, 0}}}},
      {Layout::rgbx, false, 0, 0, {0, 0, 5, 4}, {{{1, 2}, {7, 2, 1, 255}}}},
      {Layout::bgrx, true, 0, 0, {0, 0, 5, 4}, {{{0, 0}, {0, 2, 7, 255}}, {{2, 2}, {2, 0, 7, 255}}}},
      // A crop from 2,1: frame 0,0 is buffer 2,1; frame 2,0 lies past the buffer.
      {Layout::bgrx, false, 2, 1, {0, 0, 5, 4}, {{{0, 0}, {2, 1, 7, 255}}, {{1, 1}, {3, 2, 7, 255}}, {{2, 0}, {0, 0, 0, 0}}, {{0, 2}, {0, 0, 0, 0}}}},
      // A crop left of and above the buffer.
      {Layout::bgrx, false, -1, -1, {0, 0, 5, 4}, {{{0, 0}, {0, 0, 0, 0}}, {{1, 1}, {0, 0, 7, 255}}}},
      // Only the part is written: the rest keeps its 0x55.
      {Layout::bgrx, false, 0, 0, {1, 1, 1, 1}, {{{1, 1}, {1, 1, 7, 255}}, {{0, 0}, {0x55, 0x55, 0x55, 0x55}}, {{2, 1}, {0x55, 0x55, 0x55, 0x55}}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << int(c.layout) << " invert " << c.yInvert << " origin "
                                    << c.originX << "," << c.originY);
    std::vector<uint8_t> frame(5 * 4 * 4, 0x55);
    ScreenBuffer buffer{bytes.data(), 4, 3, 20, c.layout, c.yInvert};
    platform::wayland::copyPart(buffer, FrameView{frame.data(), 5, 4, c.originX, c.originY}, c.part);
    for (auto& [xy, pixel] : c.pixels) EXPECT_EQ(at(frame, 5, xy[0], xy[1]), pixel) << xy[0] << "," << xy[1];
  }
}

TEST(WaylandPixels, DamageLandsWhereTheFrameShowsIt) {
  std::vector<uint8_t> bytes(100 * 100 * 4);
  ScreenBuffer upright{bytes.data(), 100, 100, 400, Layout::bgrx, false};
  ScreenBuffer inverted{bytes.data(), 100, 100, 400, Layout::bgrx, true};
  FrameView whole{nullptr, 100, 100, 0, 0};
  FrameView crop{nullptr, 20, 20, 10, 10};
  EXPECT_EQ(platform::wayland::damagedPart(upright, whole, {5, 6, 7, 8}), (Box{5, 6, 7, 8}));
  EXPECT_EQ(platform::wayland::damagedPart(inverted, whole, {5, 6, 7, 8}), (Box{5, 86, 7, 8}));
  EXPECT_EQ(platform::wayland::damagedPart(upright, crop, {0, 0, 15, 15}), (Box{0, 0, 5, 5}));
  EXPECT_TRUE(platform::wayland::damagedPart(upright, crop, {50, 50, 10, 10}).empty());
}

TEST(WaylandPixels, BoxesUniteAndIntersect) {
  EXPECT_EQ(platform::wayland::united({0, 0, 2, 2}, {5, 5, 1, 1}), (Box{0, 0, 6, 6}));
  EXPECT_EQ(platform::wayland::united({}, {5, 5, 1, 1}), (Box{5, 5, 1, 1}));
  EXPECT_EQ(platform::wayland::intersection({0, 0, 4, 4}, {2, 2, 4, 4}), (Box{2, 2, 2, 2}));
  EXPECT_TRUE(platform::wayland::intersection({0, 0, 2, 2}, {3, 3, 1, 1}).empty());
}

}  // namespace
