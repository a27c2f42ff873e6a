// Leaving applications out of a display capture: their top-level windows are
// painted over with what lies beneath, recomposed from the Composite pixmaps
// of the windows below and the root background (black where none is known).
// Surveying and grabbing happen under one server grab, so no pixel of an
// excluded window ever reaches a frame.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/x11/picture.h"
#include "platform/x11/shm.h"

namespace platform::x11 {

class Exclusion {
 public:
  Exclusion(std::shared_ptr<Connection> connection, std::vector<pid_t> excluded);
  // Redirects the top-level windows (AUTOMATIC), so their pixmaps hold them whole.
  std::optional<Error> start();

  // Finds where the windows are now; call with the server grabbed.
  void survey();
  // Re-arms the Damage of the windows found (changes beneath excluded ones
  // reach no root Damage).
  void rearm();
  // Replaces the excluded windows' pixels in `image`, which shows `area` of the root.
  void recompose(Image image, Box area);

 private:
  struct Shown {
    xcb_window_t window;
    Box outer;  // with its border, root coordinates
    bool excluded;
    bool blend;  // depth 32: drawn over what lies beneath
  };
  void paintBackground(Image image, Box area, Box piece);
  void paint(const Shown& shown, xcb_pixmap_t pixmap, Image image, Box area, Box piece);

  std::shared_ptr<Connection> connection_;
  std::vector<pid_t> excluded_;
  std::vector<Shown> shown_;  // bottom to top
  std::map<xcb_window_t, uint32_t> damages_;
  xcb_pixmap_t background_ = XCB_NONE;
  Box backgroundBox_;
  std::unique_ptr<Segment> scratch_;
};

}  // namespace platform::x11
