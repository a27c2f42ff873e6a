#include "platform/tesseract/tesseract_recognition.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/error.h"
#include "platform/tesseract/engine.h"
#include "platform/tesseract/languages.h"
#include "platform/tesseract/line_drawing.h"
#include "platform/tesseract/pix_image.h"

namespace platform {

namespace {

// Tesseract keeps coordinates in 16 bits and refuses larger images.
constexpr uint64_t largestSide = 32767;
// Measured: Tesseract holds about three bytes per pixel of the image it
// reads, next to our one-byte grey copy.
constexpr uint64_t bytesPerPixel = 4;
// The accurate level's upscaled image stays within this many pixels (an
// 8192 x 8192 image takes about 250 MB and a second to read).
constexpr double upscaledPixels = 8192.0 * 8192.0;

std::string size(uint64_t width, uint64_t height) {
  return std::to_string(width) + "\u00d7" + std::to_string(height);
}

// Both levels refuse the same images, so that one large image never passes
// for a failing accurate level.
void checkFits(uint64_t width, uint64_t height) {
  if (width > largestSide || height > largestSide)
    throw Error{recognitionFailed, "the image is too large to read: " + size(width, height) + " pixels, at most " +
                       std::to_string(largestSide) + " on a side"};
  if (width * height * bytesPerPixel > availableMemory())
    throw Error{recognitionFailed, "there is not enough memory to read an image of " + size(width, height) + " pixels"};
}

// Twice the size, or less where that would pass the engine's limits or the
// memory that is free; never smaller than the image itself.
double upscale(uint64_t width, uint64_t height) {
  double pixels = double(width) * double(height);
  double budget = std::min(upscaledPixels, double(availableMemory() / bytesPerPixel));
  double scale = std::min({2.0, double(largestSide) / double(width), double(largestSide) / double(height),
                           std::sqrt(budget / pixels)});
  return std::max(scale, 1.0);
}

struct PixDeleter {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPointer = std::unique_ptr<Pix, PixDeleter>;

// 8-bit grey, with any transparency laid over white.
PixPointer greyOnWhite(Pix* pix) {
  PixPointer opaque;
  if (pixGetDepth(pix) == 32 && pixGetSpp(pix) == 4) {
    opaque.reset(pixAlphaBlendUniform(pix, 0xffffff00));
    if (!opaque) throw Error{recognitionFailed, "the image cannot be laid over white"};
    pix = opaque.get();
  }
  PixPointer grey(pixConvertTo8(pix, 0));
  if (!grey) throw Error{recognitionFailed, "the image cannot be made grey"};
  return grey;
}

std::string tesseractLanguages(const std::vector<std::string>& codes) {
  std::string joined;
  for (auto& code : codes) joined += (joined.empty() ? "" : "+") + tesseractFromBcp47(code);
  return joined;
}

}  // namespace

// Leptonica's complaints about files that are no images would reach our
// standard error.
TesseractRecognition::TesseractRecognition() { setMsgSeverity(L_SEVERITY_NONE); }
TesseractRecognition::~TesseractRecognition() = default;

std::vector<std::string> TesseractRecognition::preferredLanguages() { return preferredFromLocale(); }

std::vector<std::string> TesseractRecognition::supportedRecognitionLanguages(RecognitionLevel) {
  // Both levels read with the same engine and data.
  std::vector<std::string> codes;
  for (auto& code : installedLanguages()) codes.push_back(bcp47FromTesseract(code));
  return codes;
}

std::shared_ptr<const Image> TesseractRecognition::openImage(const std::string& path) {
  return readImage(path);
}

std::shared_ptr<const Image> TesseractRecognition::drawLine(const LineDrawing& drawing) {
  return drawLineWithFreeType(drawing);
}

Engine& TesseractRecognition::engine(RecognitionLevel level) {
  auto& engine = level == RecognitionLevel::accurate ? accurate_ : fast_;
  if (!engine) engine = std::make_unique<Engine>();
  return *engine;
}

void TesseractRecognition::perform(TextRecognitionRequest& request, const Image& image) {
  auto* pixImage = dynamic_cast<const PixImage*>(&image);
  if (!pixImage) throw Error{recognitionFailed, "Tesseract reads only images it opened or drew"};
  checkFits(image.width(), image.height());
  try {
    PixPointer grey = greyOnWhite(pixImage->pix());
    if (request.recognitionLevel == RecognitionLevel::accurate) {
      // Tesseract reads small screen text far better at twice its size; the
      // boxes come back normalised, so they need no scaling down.
      double scale = upscale(image.width(), image.height());
      if (scale > 1) {
        grey.reset(pixScaleGrayLI(grey.get(), float(scale), float(scale)));
        if (!grey) throw Error{recognitionFailed, "the image cannot be scaled up"};
      }
    }
    // Tesseract has no minimum text height: it already reads text of any height.
    request.results = engine(request.recognitionLevel)
                          .read(grey.get(), tesseractLanguages(request.recognitionLanguages),
                                request.usesLanguageCorrection);
  } catch (const std::bad_alloc&) {
    throw Error{recognitionFailed, "there is not enough memory to read an image of " + size(image.width(), image.height()) +
                       " pixels"};
  }
}

void limitOpenMPThreads(char** argv) {
  const char* limit = getenv("OMP_THREAD_LIMIT");
  if (limit && strcmp(limit, "1") == 0) return;
  setenv("OMP_THREAD_LIMIT", "1", 1);
  execv("/proc/self/exe", argv);
  // Without /proc the service still works, only slower.
}

}  // namespace platform
