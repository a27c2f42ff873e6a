// The text service's requests: whatever bytes arrive, every line read gets
// exactly one answer line, and every answer is a JSON object.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/fake/fake_text.h"
#include "support/captured.h"
#include "text/line_reader.h"
#include "text/service.h"

namespace {

struct Setup {
  Setup() {
    char name[] = "/tmp/pellix-fuzz-XXXXXX";
    marker = Marker{std::filesystem::path(mkdtemp(name)) / "accurate-text-failed", "Fuzz OS 1"};
    auto words = std::make_shared<platform::FakeImage>("words.png", 200, 40);
    words->text = {platform::observation("two words", {{{0, 3}, {0.1, 0.2, 0.3, 0.4}}}),
                   platform::observation("")};
    auto fast = std::make_shared<platform::FakeImage>("fast.png", 1, 1);
    fast->accurateError = platform::Error{-1, "no accurate model"};
    auto neither = std::make_shared<platform::FakeImage>("neither.png", 0, 0);
    neither->accurateError = neither->fastError = platform::Error{-2, "unreadable"};
    for (auto& image : {words, fast, neither}) recognizer.files[image->name] = image;
    recognizer.supported = {"en-US"};
  }
  Marker marker;
  platform::FakeTextRecognition recognizer;
  Captured output{STDOUT_FILENO};  // for good: the answers are read back
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  int input = memfd_create("stdin", 0);
  if (input < 0 || write(input, data, size) != ssize_t(size) || lseek(input, 0, SEEK_SET) != 0) abort();
  TextService service{setup.recognizer, setup.marker, {"en-US"}, false, std::nullopt};
  LineReader reader(input);
  size_t requests = 0;
  while (auto line = reader.next()) {
    handleLine(service, *line);
    requests++;
    setup.recognizer.attempts.clear();
  }
  close(input);

  std::string answers = Captured::take(STDOUT_FILENO);
  size_t lines = 0;
  for (size_t start = 0; start < answers.size(); lines++) {
    size_t end = answers.find('\n', start);
    if (end == std::string::npos) abort();  // an answer without its line feed
    if (!Json::parse(answers.substr(start, end - start), nullptr, false).is_object()) abort();
    start = end + 1;
  }
  if (lines != requests) abort();
  std::filesystem::remove(*setup.marker.path);
  return 0;
}
