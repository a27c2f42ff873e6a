#include "platform/x11/cursor.h"

#include <xcb/xfixes.h>

namespace platform::x11 {

void Pointer::look(xcb_window_t window) {
  now_ = {};
  if (!connection_.has().xfixes || connection_.broken()) return;
  auto* c = connection_.xcb();
  auto imageCookie = xcb_xfixes_get_cursor_image(c);
  auto placeCookie = xcb_query_pointer(c, window);
  Reply<xcb_xfixes_get_cursor_image_reply_t> image(xcb_xfixes_get_cursor_image_reply(c, imageCookie, nullptr));
  Reply<xcb_query_pointer_reply_t> place(xcb_query_pointer_reply(c, placeCookie, nullptr));
  if (!image || !place || !place->same_screen) return;
  now_.visible = true;
  now_.x = place->win_x - image->xhot;
  now_.y = place->win_y - image->yhot;
  now_.width = image->width;
  now_.height = image->height;
  now_.serial = image->cursor_serial;
  auto* first = xcb_xfixes_get_cursor_image_cursor_image(image.get());
  pixels_.assign(first, first + xcb_xfixes_get_cursor_image_cursor_image_length(image.get()));
  if (pixels_.size() < size_t(now_.width) * size_t(now_.height)) now_.visible = false;
}

bool Pointer::Look::touches(Box area) const {
  return visible && !area.empty() && x < area.x + area.width && x + width > area.x && y < area.y + area.height &&
         y + height > area.y;
}

bool Pointer::moved(Box area) const {
  bool was = drawn_.touches(area), is = now_.touches(area);
  return was != is || (is && !(now_ == drawn_));
}

Box Pointer::draw(Image image, Box area) {
  drawn_ = now_;
  if (!now_.touches(area)) return {};
  Box over{now_.x - area.x, now_.y - area.y, now_.width, now_.height};
  drawOver(image, pixels_.data(), over.width, over.height, over.x, over.y);
  return over;
}

}  // namespace platform::x11
