// Wires the real platform services to the tool.
#include <string_view>

#include "front/diagnostics.h"
#include "front/entry.h"
#include "front/globals.h"
#include "platform/pulse/pulse_sound.h"
#include "platform/x11/x11_capture.h"
#include "platform/tesseract/tesseract_recognition.h"
#include "text/service.h"

// Pictures from the X server, sound from the sound server.
class DesktopCapture : public platform::X11Capture {
 public:
  std::unique_ptr<platform::Stream> makeStream(const platform::ContentFilter& filter,
                                               const platform::StreamConfiguration& configuration,
                                               platform::StreamDelegate& delegate) override {
    if (configuration.capturesAudio) return sound_.makeStream(filter, configuration, delegate);
    return X11Capture::makeStream(filter, configuration, delegate);
  }

 private:
  platform::PulseSound sound_;
};

int main(int argc, char** argv) {
  failOnEscapedExceptions();
  if (argc > 1 && std::string_view(argv[1]) == "ocr") platform::limitOpenMPThreads(argv);
  static DesktopCapture desktop;
  capture = &desktop;
  static platform::TesseractRecognition tesseract;
  textRecognition = &tesseract;
  enter(argc, argv);
}
