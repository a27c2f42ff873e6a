// The sample line that the start-up self-test reads: "Pellix 0123" in
// Helvetica at 28 pixels, black on a white 320 x 64 bitmap.
#pragma once

#include <memory>

#include "platform/text.h"

// Nothing when the bitmap cannot be made.
std::shared_ptr<const platform::Image> sampleLine(platform::TextRecognition& recognition);
