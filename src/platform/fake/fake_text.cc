#include "platform/fake/fake_text.h"

namespace platform {

std::optional<Rect> FakeText::boundingBox(size_t begin, size_t end) const {
  auto box = boxes_.find({begin, end});
  if (box == boxes_.end()) return std::nullopt;
  return box->second;
}

RecognizedTextObservation observation(std::string text, std::map<std::pair<size_t, size_t>, Rect> boxes) {
  return {{std::make_shared<FakeText>(std::move(text), std::move(boxes))}};
}

std::vector<std::string> FakeTextRecognition::supportedRecognitionLanguages(RecognitionLevel) {
  if (supportedError) throw *supportedError;
  return supported;
}

std::shared_ptr<const Image> FakeTextRecognition::openImage(const std::string& path) {
  auto file = files.find(path);
  if (file == files.end()) return nullptr;
  return file->second;
}

std::shared_ptr<const Image> FakeTextRecognition::drawLine(const LineDrawing& drawing) {
  drawings.push_back(drawing);
  return sample;
}

void FakeTextRecognition::perform(TextRecognitionRequest& request, const Image& image) {
  auto& fake = dynamic_cast<const FakeImage&>(image);
  attempts.push_back({fake.name, request});
  auto& error = request.recognitionLevel == RecognitionLevel::accurate ? fake.accurateError : fake.fastError;
  if (error) throw *error;
  request.results = fake.text;
}

std::vector<RecognitionLevel> FakeTextRecognition::levels() const {
  std::vector<RecognitionLevel> all;
  for (auto& attempt : attempts) all.push_back(attempt.request.recognitionLevel);
  return all;
}

}  // namespace platform
