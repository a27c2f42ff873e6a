// The frames a stream cycles through (its queue depth), each kept up to date
// part by part: a slot knows what changed on the screen since it was last
// painted. A slot handed out in a sample is not painted again until every
// SampleBuffer holding it is gone.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/sample.h"
#include "platform/wayland/pixels.h"

namespace platform::wayland {

class Slots {
 public:
  // `count` frames of width × height BGRA pixels, rows packed, all out of date.
  Slots(int count, int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  // Marks `part` (frame coordinates) out of date in every slot.
  void changed(Box part);
  // A slot that no sample holds, with the part of it that is out of date;
  // null when every slot is held.
  struct Slot;
  Slot* take();
  FrameView view(Slot* slot) const;
  Box stale(Slot* slot) const;
  // The slot, now up to date, as a sample's pixel buffer; held while the
  // result's owner lives.
  PixelBuffer hand(Slot* slot);

 private:
  int width_, height_;
  std::vector<std::shared_ptr<Slot>> slots_;
};

}  // namespace platform::wayland
