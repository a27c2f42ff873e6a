#include "platform/wayland/pixels.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace platform::wayland {

namespace {

// One row of `count` pixels, the fourth byte set to 255 on the way (the
// compositor's X byte is not alpha).
void opaqueRow(const uint8_t* from, uint8_t* to, int count, Layout layout) {
  int i = 0;
  if (layout == Layout::bgrx) {
#ifdef __SSE2__
    const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
    for (; i + 4 <= count; i += 4) {
      __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i * 4));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i * 4), _mm_or_si128(p, alpha));
    }
#endif
    for (; i < count; i++) {
      uint32_t p;
      memcpy(&p, from + i * 4, 4);
      p |= 0xff000000u;
      memcpy(to + i * 4, &p, 4);
    }
    return;
  }
  for (; i < count; i++) {
    const uint8_t* p = from + i * 4;
    uint8_t* q = to + i * 4;
    q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = 255;
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
