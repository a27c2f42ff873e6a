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

// Writes `image` as a PNG file at `path` recording `dotsPerInch`, so that a
// reader of `path` sees the old file or the whole new one, never a part. False
// when the file cannot be created or finished.
bool writePNG(const std::string& path, const Picture& image, double dotsPerInch);

}  // namespace platform
