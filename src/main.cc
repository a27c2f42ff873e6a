// Wires the real platform services to the tool.
#include <string_view>

#include "desktop_capture.h"
#include "front/entry.h"
#include "front/globals.h"
#include "platform/tesseract/tesseract_recognition.h"
#include "text/service.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "ocr") platform::limitOpenMPThreads(argv);
  static DesktopCapture desktop;
  capture = &desktop;
  static platform::TesseractRecognition tesseract;
  textRecognition = &tesseract;
  enter(argc, argv);
}
