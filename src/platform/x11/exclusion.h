// Leaving applications out of a display capture: their top-level windows are
// painted over with what lies beneath, recomposed from the Composite pixmaps
// of the windows below and the root's background (black where none can be
// read).
//
// Where the windows are is surveyed again only when events say that
// something it depends on changed. The caller reads the root with the server
// grabbed and calls `update` after a reply (so every event sent before the
// grab has arrived and been taken) and before releasing the grab: the survey
// then holds for the pixels read, and no pixel of a left-out window reaches a
// frame.
#pragma once

#include <pixman.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/x11/backdrop.h"
#include "platform/x11/picture.h"
#include "platform/x11/shm.h"

namespace platform::x11 {

class Exclusion {
 public:
  Exclusion(std::shared_ptr<Connection> connection, std::vector<pid_t> excluded);
  ~Exclusion();
  Exclusion(const Exclusion&) = delete;
  Exclusion& operator=(const Exclusion&) = delete;

  // What it needs to hear of the root, besides its size.
  static constexpr uint32_t rootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  // Redirects the top-level windows (AUTOMATIC), so their pixmaps hold them
  // whole, and makes the backdrop.
  std::optional<Error> start();

  // Takes one event of the connection; true when the frame may look
  // different for it (the survey is out of date, or a window changed under
  // a left-out one).
  bool take(const xcb_generic_event_t* event);
  // Whether events said that the survey is out of date.
  bool stale() const { return stale_; }
  // Where windows under the left-out ones changed since the last call (root
  // coordinates): no root Damage reports that. Re-arms their Damage.
  Box rearm();
  // With the server grabbed, once every event sent before the grab was
  // taken: surveys again if anything the survey depends on changed. Returns
  // where the left-out part of the screen may look different since the last
  // survey (root coordinates); empty when nothing was surveyed.
  Box update();
  // Replaces the left-out pixels within `part` (root coordinates) of `image`,
  // which shows `area` of the root; they come out opaque.
  void recompose(Image image, Box area, Box part);

 private:
  struct Shown {
    xcb_window_t window;
    Box outer;  // with its border, root coordinates
    bool excluded;
    bool blend;  // depth 32: drawn over what lies beneath
  };
  void survey();
  void watch(const std::vector<xcb_window_t>& windows);
  void paintBackground(Image image, Box area, Box piece);
  void paint(const Shown& shown, xcb_pixmap_t pixmap, Image image, Box area, Box piece);

  std::shared_ptr<Connection> connection_;
  std::vector<pid_t> excluded_;
  Backdrop backdrop_;
  bool stale_ = true;              // something the survey depends on changed
  std::vector<Shown> shown_;       // bottom to top
  pixman_region32_t hidden_;       // what left-out windows cover, root coordinates
  std::map<xcb_window_t, uint32_t> damages_;  // of the windows over which hidden_ lies
  Box changedBeneath_;
  xcb_pixmap_t rootPixmap_ = XCB_NONE;  // _XROOTPMAP_ID: the desktop's picture
  Box rootPixmapBox_;
  std::unique_ptr<Segment> scratch_;
};

}  // namespace platform::x11
