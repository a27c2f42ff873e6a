#include "text/sample_line.h"

#include "text/service.h"

std::shared_ptr<const platform::Image> sampleLine() {
  return textRecognition->drawLine({.width = 320,
                                    .height = 64,
                                    .text = "Pellix 0123",
                                    .fontName = "Helvetica",
                                    .fontSize = 28,
                                    .x = 16,
                                    .y = 20});
}
