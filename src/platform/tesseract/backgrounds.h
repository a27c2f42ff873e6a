// The areas of one flat background in a grey picture (the desktop, each
// window, each panel of a window) and which of them each pixel lies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/tesseract/text_regions.h"

namespace platform {

// A pixel is flat when its 3x3 neighbourhood spans at most this many grey
// levels: flat colour and gentle gradients are, letters' edges are not.
constexpr int flatness = 8;

constexpr int32_t nobody = -1;

struct Background {
  uint64_t area = 0, sum = 0;                                  // flat pixels, and their grey levels added up
  int left = 0, top = 0, right = 0, bottom = 0;                // the box of its flat pixels, inclusive
  int32_t parent = nobody;                                     // the background it lies on
  bool holds = false;                                          // whether any pixel lies on it

  uint8_t level() const { return uint8_t(sum / area); }
};

struct Backgrounds {
  std::vector<Background> list;  // the enclosing ones before what they enclose
  std::vector<uint8_t> flat;     // per pixel: whether it is flat
  std::vector<int32_t> ground;   // per pixel: the background its flat pixel belongs to, or nobody
  std::vector<int32_t> owner;    // per pixel: the background it lies on, or nobody
};

// Every connected area of flat pixels as large as a few lines of small
// letters is a background; the insides and strokes of letters and the cells
// of a desktop pattern are smaller. A background holds the pixels in its box that lay on
// the background its own pixels lie on, so windows nest and overlap as on the
// screen, and letters a pixel from a window's edge stay in the window. A
// background of the colour of the one it lies on that encloses no ink (the
// inside of a large letter O) is none.
Backgrounds findBackgrounds(const GreyPicture& picture);

}  // namespace platform
