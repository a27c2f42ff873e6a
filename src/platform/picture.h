// A still picture: BGRA pixels, rows from the top without gaps.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sample.h"

namespace platform {

struct Picture {
  int64_t width = 0, height = 0;
  std::shared_ptr<const std::vector<uint8_t>> pixels;  // width * height * 4 bytes
};

// An image of a pixel buffer's pixels; none when the buffer has no memory, or
// when its rows lie closer together than a row of its pixels needs.
std::optional<Picture> pictureFromPixelBuffer(const PixelBuffer& buffer);

}  // namespace platform
