// The root window's own background (a colour or a tiled pixmap), which no
// request reads back: the server paints it into a child of the root whose
// background is ParentRelative. That child is redirected by hand, so it
// never shows on the screen and covers nothing, and its pixmap holds what the
// server painted. It lies at the bottom of the stacking order, where it hides
// nothing from other clients either.
#pragma once

#include <memory>

#include "platform/x11/buffers.h"
#include "platform/x11/shm.h"

namespace platform::x11 {

class Backdrop {
 public:
  explicit Backdrop(std::shared_ptr<Connection> connection);
  ~Backdrop();
  Backdrop(const Backdrop&) = delete;
  Backdrop& operator=(const Backdrop&) = delete;

  // Makes the window over the root's `size`; false when it cannot be kept off
  // the screen (another client, such as a compositing manager, redirects it).
  bool start(Box size);
  xcb_window_t window() const { return window_; }
  // Follows the root's size.
  void resize(Box size);
  // The background of `box` (root coordinates, inside the root) into the
  // start of `into`, rows packed; black where the root has none.
  Grab read(Box box, Segment& into);

 private:
  void nameAndPaint();

  std::shared_ptr<Connection> connection_;
  xcb_window_t window_ = XCB_NONE;
  xcb_pixmap_t pixmap_ = XCB_NONE;
  xcb_gcontext_t black_ = XCB_NONE;
  Box size_;
};

}  // namespace platform::x11
