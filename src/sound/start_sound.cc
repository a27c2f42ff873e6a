#include "sound/start_sound.h"

#include <unistd.h>

#include <charconv>

#include "front/diagnostics.h"
#include "target/target.h"

std::optional<Sounding> sounding;

namespace {

// Sound chunks that may wait for the writer: a second of the 10 ms chunks the
// sound server hands over. A reader that stops reading costs no more memory
// than that: older chunks are dropped, and the newest wait. Once the reader
// reads again the writer fills the time of those dropped with silence, and
// those kept, all later than anything written, land in time.
constexpr size_t waitingChunks = 100;

using platform::ContentFilter;
using platform::RunningApplication;

// The owner of the window named by --window, when there is such a window and
// it has one.
std::optional<RunningApplication> windowOwner(const Options& options, const platform::ShareableContent& content) {
  if (!options.window) return std::nullopt;
  for (auto& window : content.windows)
    if (window.windowID == *options.window) return window.owningApplication;
  return std::nullopt;
}

platform::StreamConfiguration soundConfiguration() {
  platform::StreamConfiguration configuration;
  configuration.capturesAudio = true;
  configuration.sampleRate = int(soundRate);
  configuration.channelCount = 2;
  configuration.excludesCurrentProcessAudio = true;
  configuration.width = 2;
  configuration.height = 2;
  configuration.minimumFrameInterval = {1, 1};
  configuration.showsCursor = false;
  return configuration;
}

// "start <seconds>\n" with six decimals and a point whatever the locale, in one write.
void sayStart(double frameZero) {
  char line[64] = "start ";
  auto end = std::to_chars(line + 6, line + sizeof line - 1, frameZero, std::chars_format::fixed, 6).ptr;
  *end++ = '\n';
  ssize_t ignored = write(STDERR_FILENO, line, size_t(end - line));
  (void)ignored;
}

}  // namespace

void startSound(const Options& options, platform::Capture& capture, const platform::ShareableContent& content,
                const platform::Display& display) {
  auto excluded = excludedApplications(options, content);
  auto included = windowOwner(options, content);
  auto filter = included ? ContentFilter::including(display, {*included}) : ContentFilter::excluding(display, excluded);

  auto queue = std::make_shared<platform::SerialQueue>("pellix.sound", waitingChunks);
  double origin = capture.hostNow();
  auto sound = std::make_unique<Sound>(origin);
  auto stream = capture.makeStream(filter, soundConfiguration(), *sound);
  if (auto error = stream->addStreamOutput(*sound, platform::OutputType::audio, queue)) throw *error;
  if (auto error = stream->addStreamOutput(*sound, platform::OutputType::screen, queue)) throw *error;
  platform::startAndWait(*stream);

  double wall = capture.wallNow();
  double host = capture.hostNow();
  sayStart(wall - (host - origin));
  if (included) {
    say(options.verbose, "recording the sound of " + included->applicationName);
  } else {
    std::vector<std::string> names;
    for (auto& application : excluded) names.push_back(application.applicationName);
    say(options.verbose, "recording the sound, leaving out " + quotedList(names));
  }

  queue->repeat(std::chrono::milliseconds(10), [sound = sound.get(), &capture] { sound->keepTime(capture.hostNow()); });
  sounding = Sounding{std::move(sound), std::move(stream), std::move(queue)};
}
