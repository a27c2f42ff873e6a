#include "platform/wayland/pixels.h"

#include <algorithm>
#include <cstring>

namespace platform::wayland {

Box united(Box a, Box b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

Box intersection(Box a, Box b) {
  int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

namespace {

// One row of `count` pixels, the fourth byte set to 255 on the way (the
// compositor's X byte is not alpha).
void opaqueRow(const uint8_t* from, uint8_t* to, int count, Layout layout) {
  auto* in = reinterpret_cast<const uint32_t*>(from);
  auto* out = reinterpret_cast<uint32_t*>(to);
  if (layout == Layout::bgrx) {
    for (int i = 0; i < count; i++) out[i] = in[i] | 0xff000000u;
  } else {
    for (int i = 0; i < count; i++) {
      uint32_t p = in[i];
      out[i] = 0xff000000u | (p & 0x0000ff00u) | (p & 0xffu) << 16 | (p >> 16 & 0xffu);
    }
  }
}

}  // namespace

void copyPart(const ScreenBuffer& buffer, FrameView frame, Box part) {
  part = intersection(part, {0, 0, frame.width, frame.height});
  if (part.empty()) return;
  // The part of `part` the buffer covers, in frame coordinates.
  Box covered = intersection(part, {-frame.originX, -frame.originY, buffer.width, buffer.height});
  for (int y = part.y; y < part.y + part.height; y++) {
    uint8_t* row = frame.data + (size_t(y) * size_t(frame.width) + size_t(part.x)) * 4;
    if (covered.empty() || y < covered.y || y >= covered.y + covered.height) {
      memset(row, 0, size_t(part.width) * 4);
      continue;
    }
    int left = covered.x - part.x, right = part.x + part.width - (covered.x + covered.width);
    if (left > 0) memset(row, 0, size_t(left) * 4);
    if (right > 0) memset(row + size_t(part.width - right) * 4, 0, size_t(right) * 4);
    int sourceY = y + frame.originY;
    if (buffer.yInvert) sourceY = buffer.height - 1 - sourceY;
    const uint8_t* from = buffer.data + size_t(sourceY) * buffer.stride + size_t(covered.x + frame.originX) * 4;
    opaqueRow(from, row + size_t(left) * 4, covered.width, buffer.layout);
  }
}

Box damagedPart(const ScreenBuffer& buffer, const FrameView& frame, Box damage) {
  if (buffer.yInvert) damage.y = buffer.height - damage.y - damage.height;
  damage.x -= frame.originX;
  damage.y -= frame.originY;
  return intersection(damage, {0, 0, frame.width, frame.height});
}

}  // namespace platform::wayland
