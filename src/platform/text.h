// The text recognition service as the ocr service sees it: image files, a line
// of text drawn into a bitmap, the user's preferred languages, and a recognizer
// with two levels. One real implementation, one fake for tests; `main` chooses.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/content.h"

namespace platform {

// A decoded image. Only the backend that made it can look inside.
class Image {
 public:
  virtual ~Image() = default;
  virtual size_t width() const = 0;  // pixels
  virtual size_t height() const = 0;
};

enum class RecognitionLevel { accurate = 0, fast = 1 };

// One candidate string of a recognized line, with boxes for any of its parts.
class RecognizedText {
 public:
  virtual ~RecognizedText() = default;
  virtual const std::string& string() const = 0;  // UTF-8
  // The box of the bytes [begin, end) of string() in normalised image
  // coordinates (0 to 1 on both axes, origin at the lower-left corner), or
  // nothing when the recognizer has no box for them.
  virtual std::optional<Rect> boundingBox(size_t begin, size_t end) const = 0;
};

// One recognized line: its candidate strings, best first.
struct RecognizedTextObservation {
  std::vector<std::shared_ptr<const RecognizedText>> candidates;

  std::vector<std::shared_ptr<const RecognizedText>> topCandidates(size_t count) const {
    std::vector<std::shared_ptr<const RecognizedText>> top;
    for (size_t i = 0; i < count && i < candidates.size(); i++) top.push_back(candidates[i]);
    return top;
  }
};

// The settings of one recognition and, once performed, what it found.
struct TextRecognitionRequest {
  RecognitionLevel recognitionLevel = RecognitionLevel::accurate;
  std::vector<std::string> recognitionLanguages;  // BCP-47 codes, the first one first
  bool usesLanguageCorrection = true;
  double minimumTextHeight = 0;                    // a fraction of the image height
  std::vector<RecognizedTextObservation> results;  // one per line, in reading order
};

// One line of text to draw, dark on white, into a new bitmap.
struct LineDrawing {
  int width = 0, height = 0;  // pixels
  std::string text;
  std::string fontName;
  double fontSize = 0;  // pixels
  double x = 0, y = 0;  // where the baseline starts, from the lower-left corner
};

class TextRecognition {
 public:
  virtual ~TextRecognition() = default;

  // The user's preferred languages as BCP-47 codes, most preferred first.
  virtual std::vector<std::string> preferredLanguages() = 0;
  // The codes the recognizer accepts at `level`, in its own order. Throws Error.
  virtual std::vector<std::string> supportedRecognitionLanguages(RecognitionLevel level) = 0;

  // The first image stored in the file at `path`, as stored (no orientation
  // applied); null when there is none, or when it would not fit in memory.
  virtual std::shared_ptr<const Image> openImage(const std::string& path) = 0;
  // Null when the bitmap cannot be made.
  virtual std::shared_ptr<const Image> drawLine(const LineDrawing& drawing) = 0;

  // Recognizes the text of `image` with the settings of `request` and fills
  // its results, or throws Error. Blocks until done.
  virtual void perform(TextRecognitionRequest& request, const Image& image) = 0;
};

}  // namespace platform
