#include "platform/x11/picture.h"

#include <pixman.h>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace platform::x11 {

namespace {

pixman_image_t* wrap(Image image, pixman_format_code_t format) {
  return pixman_image_create_bits(format, image.width, image.height, reinterpret_cast<uint32_t*>(image.data),
                                  int(image.stride));
}

}  // namespace

void opaque(Image image) {
  for (int row = 0; row < image.height; row++) {
    auto* p = reinterpret_cast<uint32_t*>(image.data + size_t(row) * image.stride);
    int i = 0, n = image.width;
#ifdef __SSE2__
    const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
    for (; i + 16 <= n; i += 16) {
      auto* v = reinterpret_cast<__m128i*>(p + i);
      _mm_storeu_si128(v, _mm_or_si128(_mm_loadu_si128(v), alpha));
      _mm_storeu_si128(v + 1, _mm_or_si128(_mm_loadu_si128(v + 1), alpha));
      _mm_storeu_si128(v + 2, _mm_or_si128(_mm_loadu_si128(v + 2), alpha));
      _mm_storeu_si128(v + 3, _mm_or_si128(_mm_loadu_si128(v + 3), alpha));
    }
#endif
    for (; i < n; i++) p[i] |= 0xff000000u;
  }
}

void place(Image source, Box grabbed, int sourceWidth, int sourceHeight, Image out, Box box) {
  if (box.empty() || sourceWidth <= 0 || sourceHeight <= 0) return;
  if (grabbed.empty()) {
    clear(out, box);
    return;
  }
  pixman_image_t* from = wrap(source, PIXMAN_x8r8g8b8);
  pixman_image_t* to = wrap(out, PIXMAN_a8r8g8b8);
  double sx = double(sourceWidth) / box.width, sy = double(sourceHeight) / box.height;
  pixman_transform_t transform;
  pixman_transform_init_identity(&transform);
  transform.matrix[0][0] = pixman_double_to_fixed(sx);
  transform.matrix[1][1] = pixman_double_to_fixed(sy);
  transform.matrix[0][2] = pixman_int_to_fixed(-grabbed.x);
  transform.matrix[1][2] = pixman_int_to_fixed(-grabbed.y);
  pixman_image_set_transform(from, &transform);
  bool whole = grabbed == Box{0, 0, sourceWidth, sourceHeight};
  // Samples beyond a whole source repeat its edge; beyond a partial grab they are zero.
  pixman_image_set_repeat(from, whole ? PIXMAN_REPEAT_PAD : PIXMAN_REPEAT_NONE);
  bool unscaled = box.width == sourceWidth && box.height == sourceHeight;
  pixman_image_set_filter(from, unscaled ? PIXMAN_FILTER_NEAREST : PIXMAN_FILTER_BILINEAR, nullptr, 0);
  pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, box.x, box.y, box.width, box.height);
  pixman_image_unref(from);
  pixman_image_unref(to);
}

void drawOver(Image image, const uint32_t* over, int width, int height, int x, int y) {
  if (!over || width <= 0 || height <= 0) return;
  pixman_image_t* from =
      pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, const_cast<uint32_t*>(over), width * 4);
  pixman_image_t* to = wrap(image, PIXMAN_x8r8g8b8);
  pixman_image_composite32(PIXMAN_OP_OVER, from, nullptr, to, 0, 0, 0, 0, x, y, width, height);
  pixman_image_unref(from);
  pixman_image_unref(to);
}

void copyTo(Image image, Image source, int x, int y, bool blend) {
  pixman_image_t* from = wrap(source, blend ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8);
  pixman_image_t* to = wrap(image, PIXMAN_x8r8g8b8);
  pixman_image_composite32(blend ? PIXMAN_OP_OVER : PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, x, y,
                           source.width, source.height);
  pixman_image_unref(from);
  pixman_image_unref(to);
}

void clear(Image image, Box box) {
  Box inside = clip(box, image.width, image.height);
  for (int row = inside.y; row < inside.y + inside.height; row++)
    memset(image.data + size_t(row) * image.stride + size_t(inside.x) * 4, 0, size_t(inside.width) * 4);
}

}  // namespace platform::x11
