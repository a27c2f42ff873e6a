#include "platform/x11/painter.h"

#include <algorithm>

namespace platform::x11 {

Painter::Painter(const std::string& display, const ContentFilter& filter, const StreamConfiguration& configuration)
    : connection_(std::make_shared<Connection>(display, false)),
      preservesAspectRatio_(configuration.preservesAspectRatio) {
  if (connection_->reach() != Reach::accepted) throw connection_->failure();
  if (connection_->has().hidden)
    throw Error{userDeclined,
                "the X server treats this client as untrusted (the X security extension hides the screen)"};
  if (filter.kind == ContentFilter::Kind::window)
    source_ = windowSource(connection_, filter.window.windowID);
  else
    source_ = displaySource(connection_, filter, configuration.sourceRect);
  if (auto error = source_->start()) throw *error;
  Box size = source_->size();
  width_ = configuration.width > 0 ? int(configuration.width) : size.width;
  height_ = configuration.height > 0 ? int(configuration.height) : size.height;
  if (width_ <= 0 || height_ <= 0) throw Error{failedToStart, "the frame size is empty"};
  if (configuration.showsCursor) pointer_ = std::make_unique<Pointer>(*connection_);
  xcb_flush(connection_->xcb());
  if (connection_->broken()) throw connection_->failure();
}

bool Painter::changed() {
  source_->tick();
  Box area = source_->area();
  if (area.empty()) return false;
  if (pointer_) pointer_->look(source_->window());
  return source_->changed() || (pointer_ && pointer_->moved(area));
}

Segment& Painter::staging(size_t bytes) {
  if (!staging_ || staging_->size() < bytes) staging_ = std::make_unique<Segment>(connection_, bytes);
  return *staging_;
}

Grab Painter::paint(Image out, Segment* direct, Box& painted) {
  Box area = source_->area();
  Box covered = source_->covered();
  bool whole = covered == Box{0, 0, area.width, area.height} && area.width == out.width && area.height == out.height;
  if (direct && whole && source_->refreshes()) return refresh(out, *direct, painted);
  unreported_.reset();
  lastChange_.reset();
  Segment& into = direct && whole ? *direct : staging(size_t(covered.width) * size_t(covered.height) * 4);
  if (Grab result = source_->grab(into); result != Grab::done) return result;
  Image grabbed{into.data(), covered.width, covered.height, size_t(covered.width) * 4};
  if (pointer_) pointer_->draw(grabbed, shifted(covered, area.x, area.y));
  if (&into == direct) {
    opaque(grabbed);
    painted = {0, 0, out.width, out.height};
    return Grab::done;
  }
  Box box = fit(area.width, area.height, out.width, out.height, preservesAspectRatio_);
  if (!(painted == box)) {
    clear(out, {0, 0, out.width, out.height});
    painted = box;
  }
  place(grabbed, covered, area.width, area.height, out, box);
  return Grab::done;
}

// Only what changed since this memory was last painted is grabbed: the
// source's damage since then, and the pointer drawn into it last time.
// The change from the output painted before is the damage since then and
// the pointer where it was and where it is.
Grab Painter::refresh(Image out, Segment& into, Box& painted) {
  Box damaged = source_->damaged();
  for (auto& [segment, box] : stale_) box = united(box, damaged);
  if (unreported_) unreported_ = united(*unreported_, damaged);
  auto own = std::find_if(stale_.begin(), stale_.end(), [&](auto& s) { return s.first == &into; });
  if (own == stale_.end()) own = stale_.insert(stale_.end(), {&into, Box{0, 0, out.width, out.height}});
  if (Grab result = source_->refresh(into, own->second); result != Grab::done) return result;
  own->second = {};
  painted = {0, 0, out.width, out.height};
  Box pointer;
  if (pointer_) own->second = pointer = intersection(pointer_->draw(out, source_->area()), painted);
  lastChange_ = unreported_ ? std::optional(united(*unreported_, united(pointerDrawn_, pointer))) : std::nullopt;
  unreported_ = Box{};
  pointerDrawn_ = pointer;
  return Grab::done;
}

}  // namespace platform::x11
