#include "platform/x11/one_shot.h"

#include "platform/x11/painter.h"

namespace platform::x11 {

Picture oneShot(const std::string& display, const ContentFilter& filter, const StreamConfiguration& configuration) {
  Painter painter(display, filter, configuration);
  bool window = filter.kind == ContentFilter::Kind::window;
  std::string windowName = "window " + std::to_string(filter.window.windowID);
  painter.changed();  // names a window's pixmap and looks at the pointer
  if (painter.source().area().empty())
    throw Error{failedToStart, "the " + windowName + " is not shown (unmapped or minimized), so it has no picture"};

  auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(painter.width()) * size_t(painter.height()) * 4);
  Image out{pixels->data(), painter.width(), painter.height(), size_t(painter.width()) * 4};
  Box painted = {0, 0, out.width, out.height};  // the vector starts as zeros
  switch (painter.paint(out, nullptr, painted)) {
    case Grab::done:
      break;
    case Grab::broken:
      throw painter.connection()->failure();
    case Grab::refused:
      throw Error{userDeclined, "the X server refuses to let this client read the screen"};
    case Grab::failed:
      throw Error{failedToStart, window ? "the " + windowName + " could not be grabbed (it is gone or unmapped)"
                                        : std::string("the screen could not be grabbed")};
  }
  return {painter.width(), painter.height(), std::move(pixels)};
}

}  // namespace platform::x11
