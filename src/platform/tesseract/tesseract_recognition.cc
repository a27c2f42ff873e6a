#include "platform/tesseract/tesseract_recognition.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "platform/error.h"
#include "platform/tesseract/engine.h"
#include "platform/tesseract/languages.h"
#include "platform/tesseract/line_drawing.h"
#include "platform/tesseract/pix_image.h"
#include "platform/tesseract/reading_scale.h"
#include "platform/tesseract/text_regions.h"

namespace platform {

namespace {

// Tesseract keeps coordinates in 16 bits and refuses larger images.
constexpr uint64_t largestSide = 32767;
// Measured: Tesseract holds about three bytes per pixel of the image it
// reads; our grey copies take two, and finding the parts of the picture
// about fifteen (flatness, backgrounds, owners, roles, the parts' pictures).
constexpr uint64_t bytesPerPixel = 20;
// A part's upscaled image stays within this many pixels (an 8192 x 8192
// image takes about 250 MB and a second to read).
constexpr double upscaledPixels = 8192.0 * 8192.0;
// Tesseract's own share of bytesPerPixel, for the upscaled image.
constexpr uint64_t engineBytesPerPixel = 3;

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

// `wanted`, or less where that would pass the engine's limits or the memory
// that is free; never smaller than the image itself.
double upscale(double wanted, uint64_t width, uint64_t height) {
  double pixels = double(width) * double(height);
  double budget = std::min(upscaledPixels, double(availableMemory() / engineBytesPerPixel));
  double scale = std::min({wanted, double(largestSide) / double(width), double(largestSide) / double(height),
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

GreyPicture greyPicture(Pix* grey) {
  GreyPicture picture{pixGetWidth(grey), pixGetHeight(grey), {}};
  picture.pixels.resize(size_t(picture.width) * size_t(picture.height));
  for (int y = 0; y < picture.height; y++) {
    const l_uint32* row = pixGetData(grey) + size_t(y) * size_t(pixGetWpl(grey));
    for (int x = 0; x < picture.width; x++) picture.pixels[size_t(y) * picture.width + x] = GET_DATA_BYTE(row, x);
  }
  return picture;
}

PixPointer pixOf(const GreyPicture& picture) {
  PixPointer pix(pixCreate(picture.width, picture.height, 8));
  if (!pix) throw std::bad_alloc();
  for (int y = 0; y < picture.height; y++) {
    l_uint32* row = pixGetData(pix.get()) + size_t(y) * size_t(pixGetWpl(pix.get()));
    for (int x = 0; x < picture.width; x++) SET_DATA_BYTE(row, x, picture.at(x, y));
  }
  return pix;
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
    auto& reader = engine(request.recognitionLevel);
    std::string languages = tesseractLanguages(request.recognitionLanguages);
    // Each part of the picture is read on its own, its lines after those of
    // the parts above it; boxes come back in the whole picture's pixels.
    // Tesseract has no minimum text height: it already reads text of any height.
    request.results.clear();
    for (auto& region : textRegions(greyPicture(grey.get()))) {
      PixPointer part = pixOf(region.picture);
      double scale = upscale(readingScale(request.recognitionLevel, region.lineHeight), uint64_t(region.box.width),
                             uint64_t(region.box.height));
      if (scale > 1) {
        part.reset(pixScaleGrayLI(part.get(), float(scale), float(scale)));
        if (!part) throw Error{recognitionFailed, "the image cannot be scaled up"};
      }
      Placement placement{double(region.box.x),
                          double(region.box.y),
                          double(pixGetWidth(part.get())) / region.box.width,
                          double(pixGetHeight(part.get())) / region.box.height,
                          int(image.width()),
                          int(image.height())};
      auto lines = reader.read(part.get(), placement, region.darkOnLight, languages, request.usesLanguageCorrection);
      std::move(lines.begin(), lines.end(), std::back_inserter(request.results));
    }
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
