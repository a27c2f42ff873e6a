#include "text/recognize.h"

#include <optional>

#include "platform/error.h"
#include "text/marker.h"

using platform::RecognitionLevel;

platform::TextRecognitionRequest textRequest(const std::vector<std::string>& languages,
                                             RecognitionLevel level) {
  platform::TextRecognitionRequest request;
  request.recognitionLevel = level;
  request.recognitionLanguages = languages;
  request.usesLanguageCorrection = false;
  request.minimumTextHeight = 0.0;
  return request;
}

platform::TextRecognitionRequest recognize(TextService& service, const platform::Image& image) {
  std::optional<platform::Error> accurateError;
  try {
    auto first = textRequest(service.languages,
                             service.fastLevel ? RecognitionLevel::fast : RecognitionLevel::accurate);
    service.recognition.perform(first, image);
    return first;
  } catch (const platform::Error& error) {
    if (service.fastLevel) throw;
    accurateError = error;
  }

  // When this attempt fails too, nothing changes: the next image tries the
  // accurate level again.
  auto second = textRequest(service.languages, RecognitionLevel::fast);
  service.recognition.perform(second, image);
  service.fastLevel = true;
  service.fastReason = accurateError->description;
  markAccurateFailed(service.marker, accurateError->description);
  return second;
}
