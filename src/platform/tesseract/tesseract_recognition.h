// Text recognition with Tesseract's LSTM engine. A picture is read part by
// part (each window, dialog or desktop area on its own background, dark text
// on light), the accurate level at twice its size (less when the part is
// large), the fast level at its own size but for small text; each level
// keeps one engine, loaded on first use. Languages are the installed
// traineddata, named by BCP-47 codes.
#pragma once

#include <memory>

#include "platform/text.h"

namespace platform {

class Engine;

class TesseractRecognition : public TextRecognition {
 public:
  TesseractRecognition();
  ~TesseractRecognition() override;

  std::vector<std::string> preferredLanguages() override;
  std::vector<std::string> supportedRecognitionLanguages(RecognitionLevel level) override;
  std::shared_ptr<const Image> openImage(const std::string& path) override;
  std::shared_ptr<const Image> drawLine(const LineDrawing& drawing) override;
  // Throws Error for an image larger than the engine can take (the same at
  // both levels), or when the engine cannot load or run.
  void perform(TextRecognitionRequest& request, const Image& image) override;

 private:
  Engine& engine(RecognitionLevel level);

  std::unique_ptr<Engine> accurate_, fast_;
};

// libgomp reads OMP_THREAD_LIMIT only when it loads, and Tesseract's OpenMP
// threads make it several times slower on small machines: re-executes this
// program with the limit set to 1, unless it is so already. Call first thing
// in main. Returns only when it cannot re-execute.
void limitOpenMPThreads(char** argv);

}  // namespace platform
