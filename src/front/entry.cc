#include "front/entry.h"

#include <signal.h>

#include <system_error>
#include <thread>
#include <vector>

#include "front/diagnostics.h"
#include "front/globals.h"
#include "platform/signals.h"
#include "text/service.h"
#include "video/driver.h"

void enter(int argc, char** argv) {
  soundRate = 48000;
  soundLag = 0.03;
  soundBehind = 0.06;
  soundSlack = 0.01;
  accurateFailed = accurateFailedPath();
  thisBuild = operatingSystemVersion();
  signal(SIGPIPE, SIG_IGN);
  if (argc > 1) command = argv[1];

  if (command == "ocr") readText();

  // Held from here until the main thread waits for it: every thread started
  // later inherits the mask, and a SIGTERM that comes early still ends with 0.
  platform::blockTerm();

  audio = command == "audio";
  shot = command == "shot";
  listing = command == "list";
  int first = audio || shot || listing ? 2 : 1;
  std::vector<std::string> arguments;
  for (int i = first; i < argc; i++) arguments.emplace_back(argv[i]);
  // The list job reads its options as the audio job does: a window needs no size.
  options = parse(arguments, capture->mainDisplayID(), audio || listing, shot);

  if (!capture->allowed()) fail(3, "screen recording is not allowed for this app");

  try {
    std::thread(drive).detach();
  } catch (const std::system_error& refused) {
    fail(2, "the capture could not start: cannot start a thread: " + refused.code().message());
  }
  platform::exitOnTerm();
}
