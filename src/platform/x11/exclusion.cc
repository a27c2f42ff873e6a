#include "platform/x11/exclusion.h"

#include <pixman.h>
#include <xcb/composite.h>
#include <xcb/damage.h>

#include <algorithm>
#include <set>

#include "platform/x11/windows.h"

namespace platform::x11 {

namespace {

Box intersect(Box a, Box b) {
  int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  int x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

// The rectangles of `region` that lie in `box`.
std::vector<Box> pieces(pixman_region32_t* region, Box box) {
  pixman_region32_t part;
  pixman_region32_init_rect(&part, box.x, box.y, unsigned(box.width), unsigned(box.height));
  pixman_region32_intersect(&part, &part, region);
  int count = 0;
  auto* rects = pixman_region32_rectangles(&part, &count);
  std::vector<Box> found;
  for (int i = 0; i < count; i++)
    found.push_back({rects[i].x1, rects[i].y1, rects[i].x2 - rects[i].x1, rects[i].y2 - rects[i].y1});
  pixman_region32_fini(&part);
  return found;
}

}  // namespace

Exclusion::Exclusion(std::shared_ptr<Connection> connection, std::vector<pid_t> excluded)
    : connection_(std::move(connection)), excluded_(std::move(excluded)) {}

std::optional<Error> Exclusion::start() {
  if (!connection_->has().composite)
    return Error{failedToStart, "the X server has no Composite extension, needed to leave applications out"};
  auto* c = connection_->xcb();
  Reply<xcb_generic_error_t> error(xcb_request_check(
      c, xcb_composite_redirect_subwindows_checked(c, connection_->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
  if (error)
    return Error{error->error_code == XCB_ACCESS ? userDeclined : failedToStart,
                 "the X server refused to redirect the windows"};
  return std::nullopt;
}

void Exclusion::survey() {
  auto* c = connection_->xcb();
  auto tops = topLevels(*connection_);
  auto backgroundCookie = xcb_get_property(c, 0, connection_->root(), connection_->atoms().rootPixmap,
                                           XCB_ATOM_PIXMAP, 0, 1);
  std::vector<xcb_get_window_attributes_cookie_t> attributes;
  std::vector<xcb_get_geometry_cookie_t> geometries;
  // A top-level is left out when any window in it belongs to a left-out
  // application: its client, or (while a window manager has not marked the
  // client yet) any window found below its frame.
  std::vector<xcb_window_t> asked;
  std::vector<size_t> askedFor;
  for (size_t i = 0; i < tops.size(); i++) {
    attributes.push_back(xcb_get_window_attributes(c, tops[i].window));
    geometries.push_back(xcb_get_geometry(c, tops[i].window));
    asked.push_back(tops[i].client);
    askedFor.push_back(i);
    for (auto w : tops[i].inside) {
      asked.push_back(w);
      askedFor.push_back(i);
    }
  }
  auto pids = owners(*connection_, asked);
  std::vector<bool> leftOut(tops.size(), false);
  for (size_t k = 0; k < asked.size(); k++)
    if (pids[k] > 0 && std::find(excluded_.begin(), excluded_.end(), pids[k]) != excluded_.end())
      leftOut[askedFor[k]] = true;
  shown_.clear();
  std::set<xcb_window_t> present;
  for (size_t i = 0; i < tops.size(); i++) {
    Reply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, attributes[i], nullptr));
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, geometries[i], nullptr));
    if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
    bool excluded = leftOut[i];
    int border = g->border_width;
    shown_.push_back({tops[i].window, {g->x, g->y, g->width + 2 * border, g->height + 2 * border}, excluded,
                      g->depth == 32});
    present.insert(tops[i].window);
  }
  // Watch every window shown: a change beneath an excluded one reaches no root Damage.
  for (auto it = damages_.begin(); it != damages_.end();) {
    if (present.count(it->first)) {
      ++it;
      continue;
    }
    xcb_damage_destroy(c, it->second);  // an error event if the window took it along
    it = damages_.erase(it);
  }
  if (connection_->has().damage)
    for (auto w : present)
      if (!damages_.count(w)) {
        uint32_t damage = xcb_generate_id(c);
        xcb_damage_create(c, damage, w, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        damages_[w] = damage;
      }

  background_ = XCB_NONE;
  Reply<xcb_get_property_reply_t> background(xcb_get_property_reply(c, backgroundCookie, nullptr));
  if (background && background->format == 32 && xcb_get_property_value_length(background.get()) >= 4) {
    auto pixmap = *static_cast<xcb_pixmap_t*>(xcb_get_property_value(background.get()));
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
    if (g && g->depth >= 24) {
      background_ = pixmap;
      backgroundBox_ = {0, 0, g->width, g->height};
    }
  }
}

void Exclusion::rearm() {
  for (auto& [window, damage] : damages_) xcb_damage_subtract(connection_->xcb(), damage, XCB_NONE, XCB_NONE);
}

void Exclusion::recompose(Image image, Box area) {
  pixman_region32_t hidden;
  pixman_region32_init(&hidden);
  for (auto& s : shown_)
    if (s.excluded) {
      Box part = intersect(s.outer, area);
      if (!part.empty())
        pixman_region32_union_rect(&hidden, &hidden, part.x, part.y, unsigned(part.width), unsigned(part.height));
    }
  if (pixman_region32_not_empty(&hidden)) {
    size_t largest = size_t(area.width) * size_t(area.height) * 4;
    if (!scratch_ || scratch_->size() < largest) scratch_ = std::make_unique<Segment>(connection_, largest);
    for (auto& piece : pieces(&hidden, area)) paintBackground(image, area, piece);
    auto* c = connection_->xcb();
    for (auto& s : shown_) {
      if (s.excluded) continue;
      auto parts = pieces(&hidden, s.outer);
      if (parts.empty()) continue;
      xcb_pixmap_t pixmap = xcb_generate_id(c);
      xcb_composite_name_window_pixmap(c, s.window, pixmap);
      for (auto& piece : parts) paint(s, pixmap, image, area, piece);
      xcb_free_pixmap(c, pixmap);
    }
  }
  pixman_region32_fini(&hidden);
}

void Exclusion::paintBackground(Image image, Box area, Box piece) {
  clear(image, {piece.x - area.x, piece.y - area.y, piece.width, piece.height});
  if (background_ == XCB_NONE) return;
  Box part = intersect(piece, backgroundBox_);
  if (part.empty()) return;
  if (grab(*connection_, background_, part.x, part.y, part.width, part.height, *scratch_) != Grab::done) return;
  copyTo(image, {scratch_->data(), part.width, part.height, size_t(part.width) * 4}, part.x - area.x,
         part.y - area.y, false);
}

void Exclusion::paint(const Shown& shown, xcb_pixmap_t pixmap, Image image, Box area, Box piece) {
  if (grab(*connection_, pixmap, piece.x - shown.outer.x, piece.y - shown.outer.y, piece.width, piece.height,
           *scratch_) != Grab::done)
    return;
  copyTo(image, {scratch_->data(), piece.width, piece.height, size_t(piece.width) * 4}, piece.x - area.x,
         piece.y - area.y, shown.blend);
}

}  // namespace platform::x11
