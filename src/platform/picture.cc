#include "platform/picture.h"

#include <cstring>

namespace platform {

std::optional<Picture> pictureFromPixelBuffer(const PixelBuffer& buffer) {
  if (!buffer.baseAddress) return std::nullopt;
  // Rows closer together than a row of pixels would be read past the buffer's end.
  size_t rowBytes, bytes;
  if (__builtin_mul_overflow(buffer.width, size_t(4), &rowBytes) || buffer.bytesPerRow < rowBytes ||
      __builtin_mul_overflow(rowBytes, buffer.height, &bytes))
    return std::nullopt;
  auto pixels = std::make_shared<std::vector<uint8_t>>(bytes);
  for (size_t row = 0; row < buffer.height; row++)
    memcpy(pixels->data() + row * rowBytes, buffer.baseAddress + row * buffer.bytesPerRow, rowBytes);
  return Picture{int64_t(buffer.width), int64_t(buffer.height), std::move(pixels)};
}

}  // namespace platform
