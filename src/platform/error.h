// An error of a platform service: a numeric code and a description for people.
// Capture jobs throw it; only the capture driver turns it into an exit.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct Error {
  int64_t code = 0;
  std::string description;
};

// The user (or the X server on the user's behalf) refused the capture.
constexpr int64_t userDeclined = -3801;

}  // namespace platform
