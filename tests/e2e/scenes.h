// The scenes that the video, screenshot and stream tests paint on a private
// X server of 640 × 480, and the pictures they read back.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "harness.h"

namespace scenes {

// A window of one colour, where a scene puts it.
struct Window {
  int x, y, width, height;
  uint32_t rgb;
  const char* name = "painter";
};

inline e2e::PaintedWindow paint(const e2e::Xvfb& server, const Window& window) {
  return e2e::paintWindow(server, window.x, window.y, window.width, window.height, window.rgb, window.name);
}

// Two windows apart, each of its own colour.
constexpr Window red{100, 50, 200, 100, 0xff0000}, blue{400, 300, 50, 40, 0x2040c0};
// A window under another that covers the whole screen.
constexpr Window covered{10, 10, 200, 100, 0x00ff00}, cover{0, 0, 640, 480, 0x000080};
// An application to leave out ("secret"), over another's window.
constexpr Window below{100, 100, 200, 200, 0xff0000, "below"}, leftOut{150, 150, 100, 100, 0x00ff00, "secret"};
// A grey window under the pointer, which Xvfb keeps in the middle of the
// screen; `pointerCrop` is a crop around it.
constexpr Window underThePointer{220, 140, 200, 200, 0x808080};
inline const std::string pointerCrop = "300,220,40,40";

struct Pixel {
  uint8_t b, g, r, a;
  bool operator==(const Pixel&) const = default;
};
inline std::ostream& operator<<(std::ostream& o, const Pixel& p) {
  return o << "BGRA(" << int(p.b) << "," << int(p.g) << "," << int(p.r) << "," << int(p.a) << ")";
}
inline Pixel opaque(uint32_t rgb) { return {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), 255}; }

// A frame or a decoded screenshot: BGRA pixels, rows packed.
struct Picture {
  int width = 0, height = 0;
  std::string bytes;

  Pixel at(int x, int y) const {
    const char* p = bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
    return {uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2]), uint8_t(p[3])};
  }
  // How many pixels of the box (x, y, w, h) are not `pixel`.
  int others(int x, int y, int w, int h, Pixel pixel) const {
    int count = 0;
    for (int row = y; row < y + h; row++)
      for (int column = x; column < x + w; column++) count += !(at(column, row) == pixel);
    return count;
  }
  // How many pixels of where `window` lies are not its colour.
  int others(const Window& window) const {
    return others(window.x, window.y, window.width, window.height, opaque(window.rgb));
  }
};

}  // namespace scenes
