#include "text/service.h"

#include <unistd.h>

#include "platform/error.h"
#include "text/languages.h"
#include "text/line_reader.h"
#include "text/marker.h"
#include "text/recognize.h"
#include "text/sample_line.h"
#include "text/words.h"

namespace {

std::string joined(const std::vector<std::string>& codes) {
  std::string text;
  for (auto& code : codes) text += (text.empty() ? "" : ",") + code;
  return text;
}

}  // namespace

void serveText(platform::TextRecognition& recognition, const Marker& marker) {
  TextService service{recognition, marker, {}, false, std::nullopt};
  answer({{"preparing", true}});
  service.languages = chooseLanguages(recognition);
  service.fastReason = failedLately(marker);
  service.fastLevel = service.fastReason.has_value();

  // A recognizer that cannot read at all is found here, before any request.
  if (auto sample = sampleLine(recognition)) {
    try {
      recognize(service, *sample);
    } catch (const platform::Error& error) {
      answer({{"ready", false},
              {"error", "macOS's text recognition does not read here (" + error.description + ")"}});
      _exit(0);
    }
  }

  Json ready = {{"ready", true}, {"language", joined(service.languages)}, {"max", 16384}};
  addLevel(service, ready);
  answer(ready);

  LineReader input(STDIN_FILENO);
  while (auto line = input.next()) handleLine(service, *line);
  _exit(0);
}

void handleLine(TextService& service, const std::string& line) {
  Json request = Json::parse(line, nullptr, false);
  auto path = request.is_object() ? request.find("path") : request.end();
  if (path == request.end() || !path->is_string()) {
    answer({{"error", "a request is {\"path\": \u2026}"}});
    return;
  }
  const std::string& name = path->get_ref<const std::string&>();

  auto image = service.recognition.openImage(name);
  if (!image) {
    answer({{"error", "cannot open " + name}});
    return;
  }
  platform::TextRecognitionRequest done;
  try {
    done = recognize(service, *image);
  } catch (const platform::Error& error) {
    answer({{"error", error.description}});
    return;
  }
  Json object = {{"lines", lines(done.results, double(image->width()), double(image->height()))}};
  addLevel(service, object);
  answer(object);
}

void addLevel(const TextService& service, Json& object) {
  if (!service.fastReason) return;
  object["level"] = "fast";
  object["why"] = *service.fastReason;
}
