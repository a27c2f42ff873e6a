#include "platform/tesseract/reading_scale.h"

namespace platform {

double readingScale(RecognitionLevel level, int lineHeight) {
  if (lineHeight <= 0) return 1;
  if (level == RecognitionLevel::accurate) return 2;
  return lineHeight > 0 && lineHeight < smallLines ? 1.25 : 1;
}

}  // namespace platform
