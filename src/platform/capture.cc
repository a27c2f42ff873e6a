#include "platform/capture.h"

namespace platform {

Picture Capture::captureImage(const ContentFilter&, const StreamConfiguration&) {
  throw Error{1, "this capture service takes no screenshots"};
}

}  // namespace platform
