// What streams and one-shot captures share: the source a filter names, opened
// on a connection of its own, and painting it onto an output image of the
// configured size (grabbed, scaled to fit, the pointer drawn in, opaque).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/content.h"
#include "platform/x11/cursor.h"
#include "platform/x11/picture.h"
#include "platform/x11/source.h"

namespace platform::x11 {

class Painter {
 public:
  // Connects to `display` (empty: $DISPLAY) and starts the source; throws
  // Error when it cannot be captured (refused: userDeclined).
  Painter(const std::string& display, const ContentFilter& filter, const StreamConfiguration& configuration);

  const std::shared_ptr<Connection>& connection() const { return connection_; }
  Source& source() const { return *source_; }
  // The output size: the configured one, or the source's own.
  int width() const { return width_; }
  int height() const { return height_; }

  // Looks at the source and the pointer: whether there is something to grab
  // that differs from the last paint.
  bool changed();
  // Grabs the source and paints it on `out` (width() × height()). `direct`,
  // when given, is out's own memory: a grab of the output's size lands there
  // without a copy. `painted` is the part of `out` that holds a picture, the
  // rest being zero; kept up to date. Grab::done, or why not.
  Grab paint(Image out, Segment* direct, Box& painted);
  // The part of the last painted output that may differ from the one painted
  // before it; none when anything may (it was painted whole).
  std::optional<Box> lastChange() const { return lastChange_; }

 private:
  Segment& staging(size_t bytes);
  Grab refresh(Image out, Segment& into, Box& painted);

  std::shared_ptr<Connection> connection_;
  std::unique_ptr<Source> source_;
  std::unique_ptr<Pointer> pointer_;
  std::unique_ptr<Segment> staging_;
  // Per output memory that is refreshed part by part: what in it is out of date.
  std::vector<std::pair<const Segment*, Box>> stale_;
  // What changed since the last output painted part by part; none after one
  // painted whole.
  std::optional<Box> unreported_;
  std::optional<Box> lastChange_;
  Box pointerDrawn_;  // where the pointer was drawn in the last output
  bool preservesAspectRatio_;
  int width_ = 0, height_ = 0;
};

}  // namespace platform::x11
