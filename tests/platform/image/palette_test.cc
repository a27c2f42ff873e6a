#include "platform/image/palette.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using platform::Palette;

// BGRA bytes of the given colours (little-endian words: 0xAARRGGBB).
std::vector<uint8_t> pixels(const std::vector<uint32_t>& colours) {
  std::vector<uint8_t> bytes(colours.size() * 4);
  std::memcpy(bytes.data(), colours.data(), bytes.size());
  return bytes;
}

// `count` distinct opaque colours, each repeated `times` in a row.
std::vector<uint32_t> distinct(size_t count, size_t times = 1) {
  std::vector<uint32_t> colours;
  for (uint32_t c = 0; c < count; c++)
    for (size_t i = 0; i < times; i++) colours.push_back(0xff000000u | (c * 0x010203u));
  return colours;
}

TEST(Palette, TakesUpTo256ColoursInTheFewestBitsPerIndex) {
  struct Case {
    size_t colours, times;
    int bitDepth;  // 0: no palette
  } cases[] = {
      {1, 5, 1}, {2, 1, 1}, {3, 1, 2}, {4, 3, 2}, {5, 1, 4}, {16, 2, 4}, {17, 1, 8}, {256, 1, 8}, {256, 4, 8},
      {257, 1, 0}, {5000, 1, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.colours) + " colours");
    auto bytes = pixels(distinct(c.colours, c.times));
    auto palette = Palette::of(bytes.data(), bytes.size() / 4);
    if (c.bitDepth == 0) {
      EXPECT_FALSE(palette);
      continue;
    }
    ASSERT_TRUE(palette);
    EXPECT_EQ(palette->colours().size(), c.colours);
    EXPECT_EQ(palette->bitDepth(), c.bitDepth);
  }
}

TEST(Palette, ListsEachColourOnceAscendingTranslucentFirst) {
  auto bytes = pixels({0xff00ff00, 0x80112233, 0xff000000, 0xff00ff00, 0x00000000, 0x80112233});
  auto palette = Palette::of(bytes.data(), 6);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->colours(), (std::vector<uint32_t>{0x00000000, 0x80112233, 0xff000000, 0xff00ff00}));
  EXPECT_EQ(palette->translucent(), 2u);
}

TEST(Palette, PacksIndicesHighBitsFirstAndPadsTheLastByte) {
  struct Case {
    std::vector<uint32_t> row;
    std::vector<uint8_t> packed;
  } cases[] = {
      // two colours: 1 bit; index 0 is the lower colour
      {{0xffffffff, 0xff000000, 0xff000000, 0xffffffff, 0xffffffff, 0xffffffff, 0xff000000, 0xffffffff, 0xffffffff,
        0xff000000},
       {0b10011101, 0b10000000}},
      // four colours: 2 bits
      {{0xff000003, 0xff000002, 0xff000001, 0xff000000, 0xff000000}, {0b11100100, 0b00000000}},
      // five colours: 4 bits
      {{0xff000004, 0xff000000, 0xff000002, 0xff000001, 0xff000003}, {0x40, 0x21, 0x30}},
      // more than sixteen: a byte each
      {distinct(20), {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.row.size()) + " pixels");
    auto bytes = pixels(c.row);
    auto palette = Palette::of(bytes.data(), c.row.size());
    ASSERT_TRUE(palette);
    std::vector<uint8_t> packed(c.packed.size(), 0xee);
    palette->pack(bytes.data(), c.row.size(), packed.data());
    EXPECT_EQ(packed, c.packed);
  }
}

}  // namespace
