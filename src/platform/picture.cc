#include "platform/picture.h"

#include <cstring>

namespace platform {

std::optional<Picture> pictureFromPixelBuffer(const PixelBuffer& buffer) {
  if (!buffer.baseAddress) return std::nullopt;
  auto pixels = std::make_shared<std::vector<uint8_t>>(buffer.width * buffer.height * 4);
  for (size_t row = 0; row < buffer.height; row++)
    memcpy(pixels->data() + row * buffer.width * 4, buffer.baseAddress + row * buffer.bytesPerRow, buffer.width * 4);
  return Picture{int64_t(buffer.width), int64_t(buffer.height), std::move(pixels)};
}

}  // namespace platform
