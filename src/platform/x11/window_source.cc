// One window's content, from its Composite pixmap: covered or partly
// off-screen, it is still grabbed whole; its border and any window manager's
// frame are left out.
#include <xcb/composite.h>
#include <xcb/damage.h>

#include "platform/x11/source.h"

namespace platform::x11 {

namespace {

class WindowSource : public Source {
 public:
  WindowSource(std::shared_ptr<Connection> connection, xcb_window_t window)
      : connection_(std::move(connection)), window_(window) {}

  ~WindowSource() override {
    if (pixmap_ != XCB_NONE && !connection_->broken()) xcb_free_pixmap(connection_->xcb(), pixmap_);
  }

  std::optional<Error> start() override {
    auto* c = connection_->xcb();
    Error gone{failedToStart, "there is no window " + std::to_string(window_) + " (it is gone)"};
    if (!connection_->has().composite)
      return Error{failedToStart, "the X server has no Composite extension, needed to capture a window"};
    uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    auto selected = xcb_change_window_attributes_checked(c, window_, XCB_CW_EVENT_MASK, &events);
    auto redirected = xcb_composite_redirect_window_checked(c, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    auto geometryCookie = xcb_get_geometry(c, window_);
    Reply<xcb_generic_error_t> selectError(xcb_request_check(c, selected));
    Reply<xcb_generic_error_t> redirectError(xcb_request_check(c, redirected));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    if (connection_->broken()) return connection_->failure();
    auto refused = [](const Reply<xcb_generic_error_t>& e) { return e && e->error_code == XCB_ACCESS; };
    if (refused(selectError) || refused(redirectError))
      return Error{userDeclined, "the X server refuses to let this client capture window " + std::to_string(window_)};
    if (selectError || redirectError || !geometry) return gone;
    width_ = geometry->width;
    height_ = geometry->height;
    border_ = geometry->border_width;
    if (connection_->has().damage) {
      damage_ = xcb_generate_id(c);
      xcb_damage_create(c, damage_, window_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    }
    name();
    return std::nullopt;
  }

  std::optional<Error> take(const xcb_generic_event_t* event) override {
    uint8_t type = event->response_type & 0x7f;
    if (connection_->has().damage && type == connection_->has().damageEvent + XCB_DAMAGE_NOTIFY) {
      changed_ = true;
      return std::nullopt;
    }
    switch (type) {
      case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == window_)
          return Error{streamStopped, "the captured window " + std::to_string(window_) + " was destroyed"};
        break;
      case XCB_CONFIGURE_NOTIFY: {
        auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        if (configure->window != window_) break;
        bool resized = configure->width != width_ || configure->height != height_ || configure->border_width != border_;
        width_ = configure->width;
        height_ = configure->height;
        border_ = configure->border_width;
        if (resized) stale_ = true;
        changed_ = true;
        break;
      }
      case XCB_MAP_NOTIFY:
      case XCB_REPARENT_NOTIFY:
        stale_ = true;
        changed_ = true;
        break;
      case XCB_UNMAP_NOTIFY:
        stale_ = true;
        break;
    }
    return std::nullopt;
  }

  void tick() override {
    if (stale_ || pixmap_ == XCB_NONE) name();
  }

  Box size() const override { return {0, 0, width_, height_}; }
  Box area() const override { return pixmap_ == XCB_NONE ? Box{} : Box{0, 0, width_, height_}; }
  xcb_window_t window() const override { return window_; }
  Box covered() const override { return area(); }

  Grab grab(Segment& into) override {
    changed_ = !connection_->has().damage;  // without Damage, every tick grabs
    if (damage_) xcb_damage_subtract(connection_->xcb(), damage_, XCB_NONE, XCB_NONE);
    if (pixmap_ == XCB_NONE) return Grab::failed;
    return x11::grab(*connection_, pixmap_, border_, border_, width_, height_, into);
  }

 private:
  // Names the window's current pixmap; none while the window is not viewable.
  void name() {
    auto* c = connection_->xcb();
    stale_ = false;
    if (pixmap_ != XCB_NONE) xcb_free_pixmap(c, pixmap_);
    pixmap_ = xcb_generate_id(c);
    Reply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window_, pixmap_)));
    if (error) {
      pixmap_ = XCB_NONE;
    } else {
      changed_ = true;
    }
  }

  std::shared_ptr<Connection> connection_;
  xcb_window_t window_;
  int width_ = 0, height_ = 0, border_ = 0;
  uint32_t damage_ = XCB_NONE;
  xcb_pixmap_t pixmap_ = XCB_NONE;
  bool stale_ = false;
};

}  // namespace

std::unique_ptr<Source> windowSource(std::shared_ptr<Connection> connection, xcb_window_t window) {
  return std::make_unique<WindowSource>(std::move(connection), window);
}

}  // namespace platform::x11
