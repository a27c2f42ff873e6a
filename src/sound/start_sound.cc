#include "sound/start_sound.h"

#include "platform/error.h"

void startSound(const platform::ShareableContent&, const platform::Display&) {
  throw platform::Error{2, "sound capture is not available in this build"};
}
