// An error of a platform service: a code and a description for people.
// Capture jobs throw it; only the dispatcher turns it into an exit.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct Error {
  int64_t code = 0;
  std::string description;
};

// The codes the services give. Only userDeclined changes how a run ends
// (exit code 3 instead of 2); the others tell the cases apart in tests.
// The user (or the display server on the user's behalf) refused the capture.
constexpr int64_t userDeclined = -3801;
// A listing, a stream or a screenshot could not be set up.
constexpr int64_t failedToStart = -3802;
// The service cannot do what was asked at all.
constexpr int64_t notSupported = -3803;
// A running stream ended: its server or its source went away.
constexpr int64_t streamStopped = -3821;
// The recognizer could not read an image.
constexpr int64_t recognitionFailed = -3900;

}  // namespace platform
