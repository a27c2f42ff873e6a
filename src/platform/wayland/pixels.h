// Pixels of a screencopy buffer as frames want them: the part a frame shows,
// opaque BGRA, upright, with zeros where the frame reaches past the output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/box.h"

namespace platform::wayland {

// The shared box, under this backend's name too.
using platform::Box;
using platform::intersection;
using platform::united;

// wl_shm formats a screencopy buffer may come in that this backend reads.
enum class Layout {
  bgrx,  // XRGB8888 / ARGB8888: bytes B, G, R, X
  rgbx,  // XBGR8888 / ABGR8888: bytes R, G, B, X
};

// A buffer the compositor filled: `width` × `height` pixels of 4 bytes, rows
// `stride` apart, from the bottom up when `yInvert`.
struct ScreenBuffer {
  const uint8_t* data = nullptr;
  int width = 0, height = 0;
  size_t stride = 0;
  Layout layout = Layout::bgrx;
  bool yInvert = false;
};

// A frame of `width` × `height` BGRA pixels, rows packed, that shows the
// output upright from (originX, originY) on (output pixels: a crop's corner).
struct FrameView {
  uint8_t* data = nullptr;
  int width = 0, height = 0;
  int originX = 0, originY = 0;
};

// Brings `part` of `frame` (frame coordinates) up to date from `buffer`:
// opaque BGRA where the buffer has pixels, zeros where it has none.
void copyPart(const ScreenBuffer& buffer, FrameView frame, Box part);

// The part of `frame` that a damage box of `buffer` (buffer coordinates, as
// the compositor reports it) touches.
Box damagedPart(const ScreenBuffer& buffer, const FrameView& frame, Box damage);

}  // namespace platform::wayland
