// Pixel work on frames: making grabbed pixels opaque, scaling with pixman,
// drawing one image over another.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/x11/geometry.h"

namespace platform::x11 {

// 4-byte pixels (B, G, R, X or A in memory), rows `stride` bytes apart.
struct Image {
  uint8_t* data = nullptr;
  int width = 0, height = 0;
  size_t stride = 0;
};

// Sets every pixel's alpha to 255, in place.
void opaque(Image image);

// Scales `source` (whose alpha is ignored) onto `box` of `out` with alpha 255.
// `source` holds the part `grabbed` of a source of sourceWidth × sourceHeight;
// what lies outside it becomes zero.
void place(Image source, Box grabbed, int sourceWidth, int sourceHeight, Image out, Box box);

// Draws `over` (premultiplied ARGB) at (x, y) on `image`, clipped.
void drawOver(Image image, const uint32_t* over, int width, int height, int x, int y);

// Copies `source` to (x, y) of `image`: opaque pixels, or with `blend` a
// premultiplied ARGB image drawn over. Clipped.
void copyTo(Image image, Image source, int x, int y, bool blend);

// Sets a box of `image` to zero.
void clear(Image image, Box box);

}  // namespace platform::x11
