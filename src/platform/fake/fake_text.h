// A scripted text recognizer for unit tests: the test names the image files,
// what each image holds and which levels fail on it, the languages, and
// whether drawing works; the fake records every drawing and every attempt.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

// A candidate whose boxes are listed by byte range; other ranges have none.
class FakeText : public RecognizedText {
 public:
  FakeText(std::string text, std::map<std::pair<size_t, size_t>, Rect> boxes = {})
      : text_(std::move(text)), boxes_(std::move(boxes)) {}
  const std::string& string() const override { return text_; }
  std::optional<Rect> boundingBox(size_t begin, size_t end) const override;

 private:
  std::string text_;
  std::map<std::pair<size_t, size_t>, Rect> boxes_;
};

// An observation with one candidate.
RecognizedTextObservation observation(std::string text, std::map<std::pair<size_t, size_t>, Rect> boxes = {});

struct FakeImage : Image {
  FakeImage(std::string name, size_t width, size_t height) : name(std::move(name)), w(width), h(height) {}
  size_t width() const override { return w; }
  size_t height() const override { return h; }

  std::string name;
  size_t w, h;
  std::vector<RecognizedTextObservation> text;  // the results of any successful attempt
  std::optional<Error> accurateError, fastError;
};

class FakeTextRecognition : public TextRecognition {
 public:
  std::vector<std::string> preferredLanguages() override { return preferred; }
  std::vector<std::string> supportedRecognitionLanguages(RecognitionLevel level) override;
  std::shared_ptr<const Image> openImage(const std::string& path) override;
  std::shared_ptr<const Image> drawLine(const LineDrawing& drawing) override;
  void perform(TextRecognitionRequest& request, const Image& image) override;

  // Scripted.
  std::vector<std::string> preferred;
  std::vector<std::string> supported;
  std::optional<Error> supportedError;
  std::map<std::string, std::shared_ptr<FakeImage>> files;  // by path
  std::shared_ptr<FakeImage> sample = std::make_shared<FakeImage>("sample", 320, 64);  // null: cannot draw

  // Recorded.
  std::vector<LineDrawing> drawings;
  struct Attempt {
    std::string image;
    TextRecognitionRequest request;  // as asked, without results
  };
  std::vector<Attempt> attempts;
  std::vector<RecognitionLevel> levels() const;
};

}  // namespace platform
