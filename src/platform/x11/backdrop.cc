#include "platform/x11/backdrop.h"

#include <xcb/composite.h>

#include <string_view>

#include "platform/x11/windows.h"

namespace platform::x11 {

Backdrop::Backdrop(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}

Backdrop::~Backdrop() {
  if (window_ == XCB_NONE || connection_->broken()) return;
  auto* c = connection_->xcb();
  xcb_free_gc(c, black_);
  xcb_free_pixmap(c, pixmap_);
  xcb_destroy_window(c, window_);
  xcb_flush(c);
}

bool Backdrop::start(Box size) {
  auto* c = connection_->xcb();
  size_ = size;
  xcb_window_t window = xcb_generate_id(c);
  uint32_t values[] = {XCB_BACK_PIXMAP_PARENT_RELATIVE, 1};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection_->root(), 0, 0, uint16_t(size.width),
                    uint16_t(size.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
  Reply<xcb_generic_error_t> refused(xcb_request_check(
      c, xcb_composite_redirect_window_checked(c, window, XCB_COMPOSITE_REDIRECT_MANUAL)));
  if (refused) {
    xcb_destroy_window(c, window);
    return false;
  }
  window_ = window;
  static constexpr char instanceAndClass[] = "backdrop\0pellix-capture";
  static_assert(std::string_view(instanceAndClass + sizeof "backdrop") == ownClass);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      sizeof instanceAndClass, instanceAndClass);
  uint32_t bottom = XCB_STACK_MODE_BELOW;
  xcb_configure_window(c, window_, XCB_CONFIG_WINDOW_STACK_MODE, &bottom);
  xcb_map_window(c, window_);
  black_ = xcb_generate_id(c);
  uint32_t gc[] = {0, 0};
  xcb_create_gc(c, black_, window_, XCB_GC_FOREGROUND | XCB_GC_GRAPHICS_EXPOSURES, gc);
  nameAndPaint();
  return true;
}

void Backdrop::resize(Box size) {
  if (window_ == XCB_NONE || size == size_) return;
  size_ = size;
  uint32_t values[] = {uint32_t(size.width), uint32_t(size.height)};
  xcb_configure_window(connection_->xcb(), window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
  xcb_free_pixmap(connection_->xcb(), pixmap_);
  nameAndPaint();
}

// A fresh pixmap starts as a copy of the screen beneath (left-out windows
// included), and a root without a background paints nothing over it: black
// first. Then the whole of it holds the background, for another capture
// leaving applications out, which takes this for one more window beneath.
void Backdrop::nameAndPaint() {
  auto* c = connection_->xcb();
  pixmap_ = xcb_generate_id(c);
  xcb_composite_name_window_pixmap(c, window_, pixmap_);
  xcb_rectangle_t all{0, 0, uint16_t(size_.width), uint16_t(size_.height)};
  xcb_poly_fill_rectangle(c, window_, black_, 1, &all);
  xcb_clear_area(c, 0, window_, 0, 0, 0, 0);
}

Grab Backdrop::read(Box box, Segment& into) {
  if (window_ == XCB_NONE) return Grab::failed;
  xcb_clear_area(connection_->xcb(), 0, window_, int16_t(box.x), int16_t(box.y), uint16_t(box.width),
                 uint16_t(box.height));
  return grab(*connection_, pixmap_, box.x, box.y, box.width, box.height, into);
}

}  // namespace platform::x11
