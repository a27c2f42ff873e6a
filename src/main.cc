// Wires the real platform services to the tool.
#include <string_view>

#include "desktop_capture.h"
#include "front/diagnostics.h"
#include "front/dispatch.h"
#include "platform/image/png_files.h"
#include "platform/tesseract/tesseract_recognition.h"

int main(int argc, char** argv) {
  failOnEscapedExceptions();
  if (argc > 1 && std::string_view(argv[1]) == "ocr") platform::limitOpenMPThreads(argv);
  // The platform the jobs run on, alive until the process ends.
  static DesktopCapture desktop;
  static platform::PngFiles pngs;
  static platform::TesseractRecognition tesseract;
  enter(argc, argv, desktop, pngs, tesseract);
}
