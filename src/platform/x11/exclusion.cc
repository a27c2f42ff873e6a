#include "platform/x11/exclusion.h"

#include <xcb/composite.h>
#include <xcb/damage.h>

#include <algorithm>
#include <set>

#include "platform/x11/windows.h"

namespace platform::x11 {

namespace {

Box boxOf(const pixman_box32_t& corners) {
  return {corners.x1, corners.y1, corners.x2 - corners.x1, corners.y2 - corners.y1};
}

Box extents(pixman_region32_t* region) {
  if (!pixman_region32_not_empty(region)) return {};
  return boxOf(*pixman_region32_extents(region));
}

// The rectangles of `region` that lie in `box`.
std::vector<Box> pieces(pixman_region32_t* region, Box box) {
  pixman_region32_t part;
  pixman_region32_init_rect(&part, box.x, box.y, unsigned(std::max(box.width, 0)), unsigned(std::max(box.height, 0)));
  pixman_region32_intersect(&part, &part, region);
  int count = 0;
  auto* rects = pixman_region32_rectangles(&part, &count);
  std::vector<Box> found;
  for (int i = 0; i < count; i++) found.push_back(boxOf(rects[i]));
  pixman_region32_fini(&part);
  return found;
}

Box extentsWithin(pixman_region32_t* region, Box box) {
  Box found;
  for (auto& piece : pieces(region, box)) found = united(found, piece);
  return found;
}

}  // namespace

Exclusion::Exclusion(std::shared_ptr<Connection> connection, std::vector<pid_t> excluded)
    : connection_(std::move(connection)), excluded_(std::move(excluded)), backdrop_(connection_) {
  pixman_region32_init(&hidden_);
}

Exclusion::~Exclusion() { pixman_region32_fini(&hidden_); }

std::optional<Error> Exclusion::start() {
  if (!connection_->has().composite)
    return Error{failedToStart, "the X server has no Composite extension, needed to leave applications out"};
  auto* c = connection_->xcb();
  Reply<xcb_generic_error_t> error(xcb_request_check(
      c, xcb_composite_redirect_subwindows_checked(c, connection_->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
  if (error)
    return Error{error->error_code == XCB_ACCESS ? userDeclined : failedToStart,
                 "the X server refused to redirect the windows"};
  auto* screen = connection_->screen();
  backdrop_.start({0, 0, screen->width_in_pixels, screen->height_in_pixels});  // without it, black
  return std::nullopt;
}

bool Exclusion::take(const xcb_generic_event_t* event) {
  uint8_t type = event->response_type & 0x7f;
  auto& has = connection_->has();
  if (has.damage && type == has.damageEvent + XCB_DAMAGE_NOTIFY) {
    auto* damage = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
    if (!damages_.count(damage->drawable)) return false;
    for (auto& s : shown_)
      if (s.window == damage->drawable) changedBeneath_ = united(changedBeneath_, extentsWithin(&hidden_, s.outer));
    return true;
  }
  switch (type) {
    case XCB_PROPERTY_NOTIFY: {
      auto atom = reinterpret_cast<const xcb_property_notify_event_t*>(event)->atom;
      auto& atoms = connection_->atoms();
      if (atom != atoms.wmState && atom != atoms.netWmPid && atom != atoms.rootPixmap) return false;
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
      if (configure->window == connection_->root()) backdrop_.resize({0, 0, configure->width, configure->height});
      break;
    }
    case XCB_CREATE_NOTIFY:
    case XCB_DESTROY_NOTIFY:
    case XCB_UNMAP_NOTIFY:
    case XCB_MAP_NOTIFY:
    case XCB_REPARENT_NOTIFY:
    case XCB_GRAVITY_NOTIFY:
    case XCB_CIRCULATE_NOTIFY:
      break;
    default:
      return false;
  }
  stale_ = true;
  return true;
}

Box Exclusion::rearm() {
  for (auto& [window, damage] : damages_) xcb_damage_subtract(connection_->xcb(), damage, XCB_NONE, XCB_NONE);
  Box changed = changedBeneath_;
  changedBeneath_ = {};
  return changed;
}

Box Exclusion::update() {
  if (!stale_) return {};
  Box before = extents(&hidden_);
  survey();
  return united(before, extents(&hidden_));
}

// Events on every window looked at: where a top-level is, whether it is
// mapped and how it is stacked come from the root; which client it holds and
// whose it is, from the windows inside.
void Exclusion::watch(const std::vector<xcb_window_t>& windows) {
  uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  for (auto w : windows) xcb_change_window_attributes(connection_->xcb(), w, XCB_CW_EVENT_MASK, &events);
}

void Exclusion::survey() {
  stale_ = false;
  auto* c = connection_->xcb();
  auto tops = topLevels(*connection_);
  tops.erase(std::remove_if(tops.begin(), tops.end(), [&](auto& t) { return t.window == backdrop_.window(); }),
             tops.end());
  auto backgroundCookie = xcb_get_property(c, 0, connection_->root(), connection_->atoms().rootPixmap,
                                           XCB_ATOM_PIXMAP, 0, 1);
  std::vector<xcb_get_window_attributes_cookie_t> attributes;
  std::vector<xcb_get_geometry_cookie_t> geometries;
  // A top-level is left out when any window in it belongs to a left-out
  // application: its client, or (while a window manager has not marked the
  // client yet) any window found below its frame.
  std::vector<xcb_window_t> asked, seen;
  std::vector<size_t> askedFor;
  for (size_t i = 0; i < tops.size(); i++) {
    attributes.push_back(xcb_get_window_attributes(c, tops[i].window));
    geometries.push_back(xcb_get_geometry(c, tops[i].window));
    asked.push_back(tops[i].client);
    askedFor.push_back(i);
    seen.push_back(tops[i].window);
    for (auto w : tops[i].inside) {
      asked.push_back(w);
      askedFor.push_back(i);
      seen.push_back(w);
    }
  }
  watch(seen);
  auto pids = owners(*connection_, asked);
  std::vector<bool> leftOut(tops.size(), false);
  for (size_t k = 0; k < asked.size(); k++)
    if (pids[k] > 0 && std::find(excluded_.begin(), excluded_.end(), pids[k]) != excluded_.end())
      leftOut[askedFor[k]] = true;
  shown_.clear();
  pixman_region32_clear(&hidden_);
  for (size_t i = 0; i < tops.size(); i++) {
    Reply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, attributes[i], nullptr));
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, geometries[i], nullptr));
    if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
    int border = g->border_width;
    Box outer{g->x, g->y, g->width + 2 * border, g->height + 2 * border};
    shown_.push_back({tops[i].window, outer, leftOut[i], g->depth == 32});
    if (leftOut[i])
      pixman_region32_union_rect(&hidden_, &hidden_, outer.x, outer.y, unsigned(outer.width), unsigned(outer.height));
  }

  // Damage on the windows that the left-out ones lie over: their changes
  // there reach no root Damage.
  std::set<xcb_window_t> under;
  for (auto& s : shown_)
    if (!s.excluded && !pieces(&hidden_, s.outer).empty()) under.insert(s.window);
  for (auto it = damages_.begin(); it != damages_.end();) {
    if (under.count(it->first)) {
      ++it;
      continue;
    }
    xcb_damage_destroy(c, it->second);  // an error event if the window took it along
    it = damages_.erase(it);
  }
  if (connection_->has().damage)
    for (auto w : under)
      if (!damages_.count(w)) {
        uint32_t damage = xcb_generate_id(c);
        xcb_damage_create(c, damage, w, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        damages_[w] = damage;
      }

  rootPixmap_ = XCB_NONE;
  Reply<xcb_get_property_reply_t> background(xcb_get_property_reply(c, backgroundCookie, nullptr));
  if (background && background->format == 32 && xcb_get_property_value_length(background.get()) >= 4) {
    auto pixmap = *static_cast<xcb_pixmap_t*>(xcb_get_property_value(background.get()));
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, pixmap), nullptr));
    if (g && g->depth >= 24) {
      rootPixmap_ = pixmap;
      rootPixmapBox_ = {0, 0, g->width, g->height};
    }
  }
}

void Exclusion::recompose(Image image, Box area, Box part) {
  Box within = intersection(part, area);
  if (within.empty()) return;
  pixman_region32_t left;  // what no window painted so far covers
  pixman_region32_init_rect(&left, within.x, within.y, unsigned(within.width), unsigned(within.height));
  pixman_region32_intersect(&left, &left, &hidden_);
  Box bounds = extents(&left);
  if (!bounds.empty()) {
    size_t largest = size_t(bounds.width) * size_t(bounds.height) * 4;
    if (!scratch_ || scratch_->size() < largest) scratch_ = std::make_unique<Segment>(connection_, largest);
    auto hidden = pieces(&left, bounds);
    // Top down, each window takes what no opaque window above it covers;
    // then they are painted bottom up, over the background where none is.
    std::vector<std::pair<const Shown*, std::vector<Box>>> layers;
    for (auto s = shown_.rbegin(); s != shown_.rend(); ++s) {
      if (s->excluded) continue;
      auto parts = pieces(&left, s->outer);
      if (parts.empty()) continue;
      layers.push_back({&*s, parts});
      if (s->blend) continue;
      pixman_region32_t covered;
      pixman_region32_init_rect(&covered, s->outer.x, s->outer.y, unsigned(s->outer.width),
                                unsigned(s->outer.height));
      pixman_region32_subtract(&left, &left, &covered);
      pixman_region32_fini(&covered);
    }
    for (auto& piece : pieces(&left, bounds)) paintBackground(image, area, piece);
    auto* c = connection_->xcb();
    for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
      xcb_pixmap_t pixmap = xcb_generate_id(c);
      xcb_composite_name_window_pixmap(c, layer->first->window, pixmap);
      for (auto& piece : layer->second) paint(*layer->first, pixmap, image, area, piece);
      xcb_free_pixmap(c, pixmap);
    }
    for (auto& piece : hidden)
      opaque({image.data + size_t(piece.y - area.y) * image.stride + size_t(piece.x - area.x) * 4, piece.width,
              piece.height, image.stride});
  }
  pixman_region32_fini(&left);
}

// The desktop's picture when it names one, else the root's own background.
void Exclusion::paintBackground(Image image, Box area, Box piece) {
  Image scratch{scratch_->data(), piece.width, piece.height, size_t(piece.width) * 4};
  if (rootPixmap_ == XCB_NONE) {
    if (backdrop_.read(piece, *scratch_) == Grab::done)
      copyTo(image, scratch, piece.x - area.x, piece.y - area.y, false);
    else
      clear(image, shifted(piece, -area.x, -area.y));
    return;
  }
  clear(image, shifted(piece, -area.x, -area.y));
  Box part = intersection(piece, rootPixmapBox_);
  if (part.empty()) return;
  if (grab(*connection_, rootPixmap_, part.x, part.y, part.width, part.height, *scratch_) != Grab::done) return;
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
