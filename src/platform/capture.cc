#include "platform/capture.h"

namespace platform {

Picture Capture::captureImage(const ContentFilter&, const StreamConfiguration&) {
  throw Error{notSupported, "this capture service takes no screenshots"};
}

}  // namespace platform
