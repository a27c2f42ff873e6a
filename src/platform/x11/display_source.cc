// A display's area (or a part of it) grabbed from the root window.
#include <xcb/damage.h>

#include <cmath>

#include "platform/x11/displays.h"
#include "platform/x11/exclusion.h"
#include "platform/x11/source.h"

namespace platform::x11 {

namespace {

class DisplaySource : public Source {
 public:
  DisplaySource(std::shared_ptr<Connection> connection, const ContentFilter& filter,
                const std::optional<Rect>& sourceRect)
      : connection_(std::move(connection)), filter_(filter), sourceRect_(sourceRect) {}

  std::optional<Error> start() override {
    auto* c = connection_->xcb();
    const Monitor* monitor = nullptr;
    auto found = monitors(*connection_);
    for (auto& m : found)
      if (m.display.displayID == filter_.display.displayID) monitor = &m;
    if (!monitor) return Error{failedToStart, "there is no display " + std::to_string(filter_.display.displayID)};
    auto& d = monitor->display;
    area_ = {int(d.x), int(d.y), int(d.width), int(d.height)};
    if (sourceRect_) {
      auto& r = *sourceRect_;
      area_ = {int(d.x + std::lround(r.x)), int(d.y + std::lround(r.y)), int(std::lround(r.width)),
               int(std::lround(r.height))};
    }
    if (area_.empty()) return Error{failedToStart, "the area to capture is empty"};
    root_ = {0, 0, connection_->screen()->width_in_pixels, connection_->screen()->height_in_pixels};

    uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, connection_->root(), XCB_CW_EVENT_MASK, &events);
    if (connection_->has().damage) {
      damage_ = xcb_generate_id(c);
      xcb_damage_create(c, damage_, connection_->root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    }
    // One pixel, to learn whether the server lets us read the screen at all.
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_image_reply_t> probe(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection_->root(), 0, 0, 1, 1, ~0u), &error));
    Reply<xcb_generic_error_t> failure(error);
    if (connection_->broken()) return connection_->failure();
    if (failure && failure->error_code == XCB_ACCESS)
      return Error{userDeclined, "the X server refuses to let this client read the screen"};

    std::vector<pid_t> excluded;
    if (filter_.kind == ContentFilter::Kind::displayExcluding)
      for (auto& application : filter_.applications) excluded.push_back(application.processID);
    if (!excluded.empty()) {
      exclusion_ = std::make_unique<Exclusion>(connection_, excluded);
      if (auto error = exclusion_->start()) return error;
    }
    return std::nullopt;
  }

  std::optional<Error> take(const xcb_generic_event_t* event) override {
    uint8_t type = event->response_type & 0x7f;
    if (connection_->has().damage && type == connection_->has().damageEvent + XCB_DAMAGE_NOTIFY) {
      changed_ = true;
    } else if (type == XCB_CONFIGURE_NOTIFY) {
      auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (configure->window == connection_->root()) {
        root_ = {0, 0, configure->width, configure->height};
        changed_ = true;
      }
    }
    return std::nullopt;
  }

  Box size() const override { return {0, 0, area_.width, area_.height}; }
  Box area() const override { return area_; }
  xcb_window_t window() const override { return connection_->root(); }

  Box covered() const override {
    int x0 = std::max(area_.x, root_.x), y0 = std::max(area_.y, root_.y);
    int x1 = std::min(area_.x + area_.width, root_.width), y1 = std::min(area_.y + area_.height, root_.height);
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0 - area_.x, y0 - area_.y, x1 - x0, y1 - y0};
  }

  Grab grab(Segment& into) override {
    auto* c = connection_->xcb();
    changed_ = !connection_->has().damage;  // without Damage, every tick grabs
    if (damage_) xcb_damage_subtract(c, damage_, XCB_NONE, XCB_NONE);
    Box part = covered();
    if (part.empty()) return Grab::failed;
    auto grabRoot = [&] {
      return x11::grab(*connection_, connection_->root(), area_.x + part.x, area_.y + part.y, part.width,
                       part.height, into);
    };
    if (!exclusion_) return grabRoot();
    exclusion_->rearm();
    xcb_grab_server(c);
    exclusion_->survey();
    Grab result = grabRoot();
    if (result == Grab::done)
      exclusion_->recompose({into.data(), part.width, part.height, size_t(part.width) * 4},
                            {area_.x + part.x, area_.y + part.y, part.width, part.height});
    xcb_ungrab_server(c);
    xcb_flush(c);
    return result;
  }

 private:
  std::shared_ptr<Connection> connection_;
  ContentFilter filter_;
  std::optional<Rect> sourceRect_;
  Box area_, root_;
  uint32_t damage_ = XCB_NONE;
  std::unique_ptr<Exclusion> exclusion_;
};

}  // namespace

std::unique_ptr<Source> displaySource(std::shared_ptr<Connection> connection, const ContentFilter& filter,
                                      const std::optional<Rect>& sourceRect) {
  return std::make_unique<DisplaySource>(std::move(connection), filter, sourceRect);
}

}  // namespace platform::x11
