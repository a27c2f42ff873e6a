// A line of text drawn with FreeType, in the face Fontconfig picks for the
// font's name (for "Helvetica", an installed metric-compatible face).
#pragma once

#include <memory>

#include "platform/text.h"

namespace platform {

// A premultiplied RGBA bitmap, white, with the text in black; without a font
// the bitmap stays white. Null when the bitmap cannot be made.
std::shared_ptr<const Image> drawLineWithFreeType(const LineDrawing& drawing);

}  // namespace platform
