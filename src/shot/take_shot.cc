#include "shot/take_shot.h"

#include "platform/error.h"

void takeShot(const platform::ShareableContent&, const platform::Display&) {
  throw platform::Error{2, "screenshots are not available in this build"};
}
