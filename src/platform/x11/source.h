// What a stream grabs each frame, on the stream's own connection: an area of
// the screen (a display, or a part of it) or one window's content. A source
// watches its Damage so that a frame that nothing changed costs no grab.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/content.h"
#include "platform/x11/buffers.h"
#include "platform/x11/shm.h"

namespace platform::x11 {

class Source {
 public:
  virtual ~Source() = default;

  // Sets up redirection, Damage and events; an error when the source cannot
  // be captured (refused: userDeclined; gone).
  virtual std::optional<Error> start() = 0;
  // Takes one event of the connection; an error when the source is gone.
  virtual std::optional<Error> take(const xcb_generic_event_t* event) = 0;
  // Once per frame, before anything else is asked.
  virtual void tick() {}

  // The source's own size, even while it cannot be grabbed.
  virtual Box size() const = 0;
  // What a frame shows, in the coordinates of `window()`; empty while
  // nothing can be grabbed (an unmapped window).
  virtual Box area() const = 0;
  virtual xcb_window_t window() const = 0;
  // The part of `area()` that a grab fills, relative to the area.
  virtual Box covered() const = 0;
  // Whether anything may have changed since the last grab.
  bool changed() const { return changed_; }

  // Grabs `covered()` into `into`, rows packed (nothing when it is empty);
  // re-arms the change watch first.
  virtual Grab grab(Segment& into) = 0;

  // Whether the source can keep a whole image of its area up to date part by
  // part (`damaged`, then `refresh`), which spares grabbing what did not change.
  virtual bool refreshes() const { return false; }
  // The part of the area changed since the last call, relative to the area;
  // re-arms the change watch.
  virtual Box damaged() { return {0, 0, area().width, area().height}; }
  // Brings `part` of an image of the whole area in `into` (rows packed) up to
  // date, alpha 255.
  virtual Grab refresh(Segment& into, Box part) {
    (void)into, (void)part;
    return Grab::failed;
  }

 protected:
  bool changed_ = true;
};

std::unique_ptr<Source> displaySource(std::shared_ptr<Connection> connection, const ContentFilter& filter,
                                      const std::optional<Rect>& sourceRect);
std::unique_ptr<Source> windowSource(std::shared_ptr<Connection> connection, xcb_window_t window);

}  // namespace platform::x11
