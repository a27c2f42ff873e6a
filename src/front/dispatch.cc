#include "front/dispatch.h"

#include <signal.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "front/diagnostics.h"
#include "list/list_content.h"
#include "platform/signals.h"
#include "shot/take_shot.h"
#include "sound/start_sound.h"
#include "target/target.h"
#include "text/service.h"
#include "video/stream_video.h"

namespace {

const platform::Display& chosenDisplay(const Options& options, const platform::ShareableContent& content) {
  for (auto& display : content.displays)
    if (display.displayID == options.display) return display;
  fail(2, "there is no display " + std::to_string(options.display));
}

}  // namespace

void enter(int argc, char** argv, platform::Capture& capture, platform::PictureFiles& pictures,
           platform::TextRecognition& recognition) {
  signal(SIGPIPE, SIG_IGN);
  Job job = jobNamed(argc > 1 ? std::optional<std::string_view>(argv[1]) : std::nullopt);
  if (job == Job::text) serveText(recognition, thisSystemsMarker());

  // Held from here until the main thread waits for it: every thread started
  // later inherits the mask, and a SIGTERM that comes early still ends with 0.
  platform::blockTerm();

  int first = std::min(argc, hasCommandWord(job) ? 2 : 1);
  std::vector<std::string> arguments(argv + first, argv + argc);
  Options options = parse(arguments, capture.mainDisplayID(), job);

  if (!capture.allowed()) fail(3, "screen recording is not allowed for this app");

  try {
    std::thread([job, options, &capture, &pictures] { runCaptureJob(job, options, capture, pictures); }).detach();
  } catch (const std::system_error& refused) {
    fail(2, "the capture could not start: cannot start a thread: " + refused.code().message());
  }
  platform::exitOnTerm();
}

void runCaptureJob(Job job, const Options& options, platform::Capture& capture, platform::PictureFiles& pictures) {
  try {
    say(options.verbose, "listing the displays");
    auto content = capture.shareableContent();
    if (auto note = capture.note(); !note.empty()) say(options.verbose, note);
    say(options.verbose, std::to_string(content.displays.size()) + " displays, " +
                             std::to_string(content.applications.size()) + " apps");
    if (job == Job::list) listContent(capture, content);
    const platform::Display& display = chosenDisplay(options, content);
    refuseWhatCannotBeServed(options, capture);
    switch (job) {
      case Job::audio: return startSound(options, capture, content, display);
      case Job::shot: return takeShot(options, capture, pictures, content, display);
      default: return streamVideo(options, capture, content, display);
    }
  } catch (const platform::Error& error) {
    fail(error.code == platform::userDeclined ? 3 : 2, "the capture could not start: " + error.description);
  } catch (const std::exception& failure) {
    // Memory or a thread that the system would not give.
    fail(2, "the capture could not start: " + std::string(describeFailure(failure)));
  }
}
