#include "text/sample_line.h"

std::shared_ptr<const platform::Image> sampleLine(platform::TextRecognition& recognition) {
  return recognition.drawLine({.width = 320,
                               .height = 64,
                               .text = "Pellix 0123",
                               .fontName = "Helvetica",
                               .fontSize = 28,
                               .x = 16,
                               .y = 20});
}
