#include "platform/x11/geometry.h"

#include <algorithm>
#include <cmath>

namespace platform::x11 {

namespace {

// Display pixels as an int, kept far beyond any X screen (whose coordinates
// are 16-bit) so that sums of them cannot overflow.
int pixels(double value) {
  constexpr double limit = 1 << 24;
  return std::isnan(value) ? 0 : int(std::clamp(value, -limit, limit));
}

}  // namespace

Box clip(Box box, int width, int height) { return intersection(box, {0, 0, width, height}); }

Box shifted(Box box, int dx, int dy) { return {box.x + dx, box.y + dy, box.width, box.height}; }

Box fit(int width, int height, int outWidth, int outHeight, bool preserveAspect) {
  if (!preserveAspect || width <= 0 || height <= 0) return {0, 0, outWidth, outHeight};
  double scale = std::min(double(outWidth) / width, double(outHeight) / height);
  int w = std::clamp(int(std::lround(width * scale)), 1, outWidth);
  int h = std::clamp(int(std::lround(height * scale)), 1, outHeight);
  return {(outWidth - w) / 2, (outHeight - h) / 2, w, h};
}

Box cropArea(Box display, const Rect& crop) {
  return {display.x + pixels(std::round(crop.x)), display.y + pixels(std::round(crop.y)),
          pixels(std::trunc(crop.width)), pixels(std::trunc(crop.height))};
}

}  // namespace platform::x11
