// The pointer as XFixes shows it: grabs never contain it, so frames that show
// the cursor get it drawn in (premultiplied ARGB, placed by its hotspot).
#pragma once

#include <vector>

#include "platform/x11/connection.h"
#include "platform/x11/picture.h"

namespace platform::x11 {

class Pointer {
 public:
  explicit Pointer(Connection& connection) : connection_(connection) {}

  // Asks where the pointer is relative to `window`'s origin, and how it looks.
  void look(xcb_window_t window);
  // Whether the pointer, seen over an area of width × height at (x, y) of
  // `window`'s coordinates, looks different from when it was last drawn.
  bool moved(Box area) const;
  // Draws it on `image`, which shows `area`; remembers it as drawn. The box of
  // `image` it covers (maybe partly outside), empty when it is not there.
  Box draw(Image image, Box area);

 private:
  struct Look {
    bool visible = false;
    int x = 0, y = 0;  // top-left of the image, in the window's coordinates
    int width = 0, height = 0;
    uint32_t serial = 0;
    bool operator==(const Look&) const = default;
    bool touches(Box area) const;
  };
  Connection& connection_;
  Look now_, drawn_;
  std::vector<uint32_t> pixels_;
};

}  // namespace platform::x11
