// Boxes of pixels: where a capture's area lies on the root, which part of it
// a grab fills, where a picture lands in a frame. Plain values; nothing here
// talks to the server.
#pragma once

#include "platform/box.h"
#include "platform/content.h"

namespace platform::x11 {

// The shared box, under this backend's name too.
using platform::Box;
using platform::intersection;
using platform::united;

// The part of `box` inside a picture of width × height.
Box clip(Box box, int width, int height);
// `box` moved by (dx, dy).
Box shifted(Box box, int dx, int dy);

// Where a source of width × height lands in an output of outWidth × outHeight:
// all of it, or with `preserveAspect` the largest box of the source's shape,
// centered.
Box fit(int width, int height, int outWidth, int outHeight, bool preserveAspect);

// The pixels a crop of `display` takes (the crop in display points, which on
// X11 are pixels): its origin rounded to the nearest pixel, its size truncated
// as the output's size is, so that a fractional crop is grabbed one for one,
// never a pixel larger and scaled.
Box cropArea(Box display, const Rect& crop);

}  // namespace platform::x11
