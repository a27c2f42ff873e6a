// A display's area (or a part of it) grabbed from the root window.
#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>

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

  ~DisplaySource() override {
    if (connection_->broken()) return;
    auto* c = connection_->xcb();
    for (auto& target : targets_) {
      xcb_render_free_picture(c, target.picture);
      xcb_free_pixmap(c, target.pixmap);
    }
    if (rootPicture_ != XCB_NONE) xcb_render_free_picture(c, rootPicture_);
    if (region_ != XCB_NONE) xcb_xfixes_destroy_region(c, region_);
    xcb_flush(c);
  }

  std::optional<Error> start() override {
    auto* c = connection_->xcb();
    const Monitor* monitor = nullptr;
    auto found = monitors(*connection_);
    for (auto& m : found)
      if (m.display.displayID == filter_.display.displayID) monitor = &m;
    if (!monitor) return Error{failedToStart, "there is no display " + std::to_string(filter_.display.displayID)};
    auto& d = monitor->display;
    display_ = {int(d.x), int(d.y), int(d.width), int(d.height)};
    area_ = sourceRect_ ? cropArea(display_, *sourceRect_) : display_;
    if (area_.empty()) return Error{failedToStart, "the area to capture is empty"};
    root_ = {0, 0, connection_->screen()->width_in_pixels, connection_->screen()->height_in_pixels};

    std::vector<pid_t> excluded;
    if (filter_.kind == ContentFilter::Kind::displayExcluding)
      for (auto& application : filter_.applications) excluded.push_back(application.processID);
    uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY | (excluded.empty() ? 0 : Exclusion::rootEvents);
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

    if (!excluded.empty()) {
      exclusion_ = std::make_unique<Exclusion>(connection_, excluded);
      if (auto error = exclusion_->start()) return error;
    }
    prepareRefresh();
    return std::nullopt;
  }

  std::optional<Error> take(const xcb_generic_event_t* event) override {
    uint8_t type = event->response_type & 0x7f;
    if (exclusion_ && exclusion_->take(event)) changed_ = true;
    if (connection_->has().damage && type == connection_->has().damageEvent + XCB_DAMAGE_NOTIFY) {
      changed_ = true;
    } else if (type == XCB_CONFIGURE_NOTIFY) {
      auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (configure->window == connection_->root()) {
        root_ = {0, 0, configure->width, configure->height};
        changed_ = true;
        everything_ = true;
      }
    }
    return std::nullopt;
  }

  Box size() const override { return {0, 0, area_.width, area_.height}; }
  Box area() const override { return area_; }
  xcb_window_t window() const override { return connection_->root(); }

  // Clipped to the display, not to the root: past the display's edge lie
  // another display's pixels, and those are not this capture's.
  Box covered() const override {
    Box shown = intersection(intersection(area_, display_), root_);
    if (shown.empty()) return {};
    return shifted(shown, -area_.x, -area_.y);
  }

  Grab grab(Segment& into) override {
    auto* c = connection_->xcb();
    changed_ = !connection_->has().damage;  // without Damage, every tick grabs
    if (damage_) xcb_damage_subtract(c, damage_, XCB_NONE, XCB_NONE);
    Box part = covered();
    if (part.empty()) return Grab::done;  // nothing of the area is shown: its frame is all zeros
    auto grabRoot = [&] {
      return x11::grab(*connection_, connection_->root(), area_.x + part.x, area_.y + part.y, part.width,
                       part.height, into);
    };
    if (!exclusion_) return grabRoot();
    exclusion_->rearm();
    xcb_grab_server(c);
    Grab result = grabRoot();
    if (result == Grab::done) settle();
    xcb_ungrab_server(c);
    Box box{area_.x + part.x, area_.y + part.y, part.width, part.height};
    if (result == Grab::done)
      exclusion_->recompose({into.data(), part.width, part.height, size_t(part.width) * 4}, box, box);
    xcb_flush(c);
    return result;
  }

  bool refreshes() const override { return rootPicture_ != XCB_NONE; }

  Box damaged() override {
    auto* c = connection_->xcb();
    changed_ = false;
    Box whole{0, 0, area_.width, area_.height};
    xcb_damage_subtract(c, damage_, XCB_NONE, region_);
    Reply<xcb_xfixes_fetch_region_reply_t> region(
        xcb_xfixes_fetch_region_reply(c, xcb_xfixes_fetch_region(c, region_), nullptr));
    if (!region || everything_) {
      everything_ = false;
      return whole;
    }
    auto& e = region->extents;
    Box found = intersection({e.x - area_.x, e.y - area_.y, e.width, e.height}, whole);
    if (exclusion_) {
      found = united(found, intersection(relative(exclusion_->rearm()), whole));
      found = united(found, moved_);
      moved_ = {};
    }
    return found;
  }

  // Render copies the screen into the segment itself, as a pixmap over it, and
  // makes it opaque on the way: no pass over the pixels here.
  Grab refresh(Segment& into, Box part) override {
    // Nothing changed on the screen; but a window may have turned out to be
    // left out without moving, which no Damage reports.
    if (part.empty() && !(exclusion_ && exclusion_->stale())) return Grab::done;
    auto* c = connection_->xcb();
    if (!into.shared() || into.size() < size_t(area_.width) * size_t(area_.height) * 4) return stopRefreshing();
    auto target = std::find_if(targets_.begin(), targets_.end(), [&](auto& t) { return t.segment == into.seg(); });
    if (target == targets_.end()) {
      Target made{into.seg(), xcb_generate_id(c), xcb_generate_id(c)};
      xcb_shm_create_pixmap(c, made.pixmap, connection_->root(), uint16_t(area_.width), uint16_t(area_.height), 32,
                            into.seg(), 0);
      xcb_render_create_picture(c, made.picture, made.pixmap, argb_, 0, nullptr);
      target = targets_.insert(targets_.end(), made);
    }
    auto copy = [&](Box box) {
      return xcb_render_composite_checked(c, XCB_RENDER_PICT_OP_SRC, rootPicture_, XCB_NONE, target->picture,
                                          int16_t(area_.x + box.x), int16_t(area_.y + box.y), 0, 0, int16_t(box.x),
                                          int16_t(box.y), uint16_t(box.width), uint16_t(box.height));
    };
    if (exclusion_) xcb_grab_server(c);
    // The check waits for a reply: every event sent before the grab is in then.
    Reply<xcb_generic_error_t> error(
        xcb_request_check(c, part.empty() ? xcb_no_operation_checked(c) : copy(part)));
    if (!error && exclusion_) {
      // Where what is left out moved, it may have left its pixels in this
      // memory outside `part`, and in the other buffers wherever it was or is.
      Box moved = intersection(relative(settle()), {0, 0, area_.width, area_.height});
      if (!moved.empty()) {
        xcb_discard_reply(c, copy(moved).sequence);
        part = united(part, moved);
        moved_ = united(moved_, moved);
        changed_ = true;
      }
      xcb_ungrab_server(c);
      Box box{area_.x + part.x, area_.y + part.y, part.width, part.height};
      exclusion_->recompose({into.data(), area_.width, area_.height, size_t(area_.width) * 4}, area_, box);
      xcb_flush(c);
      return Grab::done;
    }
    if (exclusion_) xcb_ungrab_server(c);
    if (!error) return Grab::done;
    if (connection_->broken()) return Grab::broken;
    if (error->error_code == XCB_ACCESS) return Grab::refused;
    return stopRefreshing();
  }

 private:
  std::shared_ptr<Connection> connection_;
  ContentFilter filter_;
  std::optional<Rect> sourceRect_;
  Box display_, area_, root_;
  uint32_t damage_ = XCB_NONE;
  std::unique_ptr<Exclusion> exclusion_;
  Box moved_;  // where what is left out moved, for the next damaged()

  // A root box relative to the area.
  Box relative(Box box) const {
    return box.empty() ? box : shifted(box, -area_.x, -area_.y);
  }

  // With the server grabbed, after a reply (which comes after every event
  // sent before the grab): takes those events and brings the survey of what
  // is left out up to date. Where what is left out moved, root coordinates.
  Box settle() {
    while (auto* event = xcb_poll_for_queued_event(connection_->xcb())) {
      if (event->response_type != 0) take(event);
      free(event);
    }
    return exclusion_->update();
  }

  // Sets up what `refresh` needs when the server has it all: Damage regions,
  // Render, and pixmaps over shared memory.
  void prepareRefresh() {
    auto& has = connection_->has();
    if (!damage_ || !has.xfixes || !has.render || !has.shmPixmaps) return;
    auto* c = connection_->xcb();
    Reply<xcb_render_query_pict_formats_reply_t> formats(
        xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr));
    if (!formats) return;
    xcb_render_pictformat_t screen = XCB_NONE;
    for (auto s = xcb_render_query_pict_formats_screens_iterator(formats.get()); s.rem; xcb_render_pictscreen_next(&s))
      for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem; xcb_render_pictdepth_next(&d))
        for (auto v = xcb_render_pictdepth_visuals_iterator(d.data); v.rem; xcb_render_pictvisual_next(&v))
          if (v.data->visual == connection_->screen()->root_visual) screen = v.data->format;
    for (auto f = xcb_render_query_pict_formats_formats_iterator(formats.get()); f.rem;
         xcb_render_pictforminfo_next(&f)) {
      auto& i = *f.data;
      if (i.type == XCB_RENDER_PICT_TYPE_DIRECT && i.depth == 32 && i.direct.alpha_shift == 24 &&
          i.direct.red_shift == 16 && i.direct.green_shift == 8 && i.direct.blue_shift == 0 &&
          i.direct.alpha_mask == 0xff && i.direct.red_mask == 0xff && i.direct.green_mask == 0xff &&
          i.direct.blue_mask == 0xff)
        argb_ = i.id;
    }
    if (screen == XCB_NONE || argb_ == XCB_NONE) return;
    region_ = xcb_generate_id(c);
    xcb_xfixes_create_region(c, region_, 0, nullptr);
    rootPicture_ = xcb_generate_id(c);
    uint32_t inferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
    xcb_render_create_picture(c, rootPicture_, connection_->root(), screen, XCB_RENDER_CP_SUBWINDOW_MODE, &inferiors);
  }

  // Falls back to whole grabs for good, starting with the next frame.
  Grab stopRefreshing() {
    xcb_render_free_picture(connection_->xcb(), rootPicture_);
    rootPicture_ = XCB_NONE;
    changed_ = true;
    return Grab::failed;
  }

  struct Target {
    uint32_t segment;
    xcb_pixmap_t pixmap;
    xcb_render_picture_t picture;
  };
  xcb_render_pictformat_t argb_ = XCB_NONE;
  xcb_render_picture_t rootPicture_ = XCB_NONE;
  uint32_t region_ = XCB_NONE;
  std::vector<Target> targets_;
  bool everything_ = false;  // the root changed size: damage says nothing of it
};

}  // namespace

std::unique_ptr<Source> displaySource(std::shared_ptr<Connection> connection, const ContentFilter& filter,
                                      const std::optional<Rect>& sourceRect) {
  return std::make_unique<DisplaySource>(std::move(connection), filter, sourceRect);
}

}  // namespace platform::x11
