#include "platform/picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

using platform::PixelBuffer;

// Rows of a 3x2 picture `stride` bytes apart: pixel bytes count up from 1,
// padding bytes are 0xEE.
std::vector<uint8_t> rows(size_t stride) {
  std::vector<uint8_t> memory(stride * 2, 0xEE);
  uint8_t next = 1;
  for (size_t y = 0; y < 2; y++)
    for (size_t i = 0; i < 3 * 4 && i < stride; i++) memory[y * stride + i] = next++;
  return memory;
}

TEST(Picture, CopiesRowsWithoutTheirPaddingAndRefusesRowsTooShortForTheirPixels) {
  std::vector<uint8_t> counted(24);
  for (size_t i = 0; i < counted.size(); i++) counted[i] = uint8_t(i + 1);
  struct Case {
    size_t width, height, stride;
    bool made;
  } cases[] = {
      {3, 2, 12, true},
      {3, 2, 20, true},
      {3, 2, 11, false},
      {3, 2, 8, false},
      {3, 2, 0, false},
      {std::numeric_limits<size_t>::max() / 2, 2, 12, false},
      {3, std::numeric_limits<size_t>::max() / 4, 12, false},
  };
  for (auto& c : cases) {
    auto memory = rows(c.stride);
    PixelBuffer buffer{memory.data(), c.stride, c.width, c.height, nullptr};
    auto picture = platform::pictureFromPixelBuffer(buffer);
    ASSERT_EQ(picture.has_value(), c.made) << c.width << "x" << c.height << " rows " << c.stride << " apart";
    if (!picture) continue;
    EXPECT_EQ(picture->width, 3);
    EXPECT_EQ(picture->height, 2);
    EXPECT_EQ(*picture->pixels, counted);
  }
  EXPECT_FALSE(platform::pictureFromPixelBuffer(PixelBuffer{nullptr, 12, 3, 2, nullptr}));
}

}  // namespace
