// A rectangle of pixels, as the display backends reckon with them.
#pragma once

namespace platform {

// Empty when a side is not positive.
struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Box&) const = default;
  bool empty() const { return width <= 0 || height <= 0; }
};

// The smallest box holding both; an empty box adds nothing.
Box united(Box a, Box b);
// The part of `a` inside `b`; {} when they do not overlap.
Box intersection(Box a, Box b);

}  // namespace platform
