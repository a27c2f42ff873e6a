// Where the text of a screen picture lies, part by part: each area of one flat
// background (a window, a dialog, the desktop) with the text on it, to be read
// on its own, so that what surrounds a window never decides how its text is
// laid out or thresholded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// 8-bit grey pixels, rows from the top without gaps.
struct GreyPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;

  uint8_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

struct PixelBox {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelBox&) const = default;
};

// One part to read: `box` is where it lies in the whole picture, `picture`
// its pixels there, with every pixel that belongs elsewhere painted over.
struct TextRegion {
  PixelBox box;
  GreyPicture picture;
  // Text on a background is turned dark on light whatever its colours; what
  // lies on none keeps them, and may be light on dark.
  bool darkOnLight = true;
  int lineHeight = 0;  // pixels, typical of its lines of text; 0 when unknown
};

// The parts of `picture` that hold text, top to bottom. Every area of one
// flat background as large as a few lines of letters is one part, cut to the
// text on it; the edges where two areas meet (window borders) are no text.
// What lies on no flat background (a patterned desktop, a photo) is one more
// part, as it is, with the other parts blanked out. A picture without text
// gives none.
std::vector<TextRegion> textRegions(const GreyPicture& picture);

}  // namespace platform
