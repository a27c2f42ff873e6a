#include "video/driver.h"

#include "front/diagnostics.h"
#include "front/globals.h"
#include "shot/take_shot.h"
#include "sound/start_sound.h"

namespace {

void run() {
  say("listing the displays");
  auto content = capture->shareableContent();
  say(std::to_string(content.displays.size()) + " displays, " + std::to_string(content.applications.size()) +
      " apps");
  const platform::Display* display = nullptr;
  for (auto& d : content.displays)
    if (d.displayID == options.display) {
      display = &d;
      break;
    }
  if (!display) fail(2, "there is no display " + std::to_string(options.display));
  if (audio) return startSound(content, *display);
  if (shot) takeShot(content, *display);
}

}  // namespace

void drive() {
  try {
    run();
  } catch (const platform::Error& error) {
    fail(error.code == platform::userDeclined ? 3 : 2, "the capture could not start: " + error.description);
  }
}
