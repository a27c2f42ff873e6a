// The pixel buffers a stream cycles through (its queue depth). A buffer handed
// out in a sample is not written again until every SampleBuffer holding it
// (PixelBuffer::owner) is gone.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/sample.h"
#include "platform/x11/geometry.h"
#include "platform/x11/shm.h"

namespace platform::x11 {

class BufferPool {
 public:
  struct Slot {
    Slot(const std::shared_ptr<Connection>& connection, size_t bytes) : memory(connection, bytes) {}
    Segment memory;
    std::atomic<bool> held = false;
    Box painted;  // the part that later frames overwrite; the rest is zero
  };

  // `count` buffers of width × height BGRA pixels, rows packed.
  BufferPool(const std::shared_ptr<Connection>& connection, int count, int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  // A buffer that no sample holds, or null when all are held.
  Slot* take();
  // The buffer as a sample's pixel buffer; it is held while the result's owner lives.
  PixelBuffer hand(Slot* slot);

 private:
  int width_, height_;
  std::vector<std::shared_ptr<Slot>> slots_;
};

}  // namespace platform::x11
