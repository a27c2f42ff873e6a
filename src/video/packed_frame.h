// One packed frame: width x height x 4 bytes of BGRA, held as spans of
// memory that never changes. A frame that differs from the one before only in
// part owns new memory for that part and shares the rest with the one before,
// which spares zeroing and copying what did not change; the memory of a frame
// is never used for another frame's bytes (see platform/frame_memory.h), so
// a span lent to a reader stays as it was.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/frame_memory.h"
#include "platform/sample.h"

using FrameBytes = std::vector<uint8_t, platform::FrameAllocator<uint8_t>>;

class PackedFrame {
 public:
  // All of `pixels`, cut to width x height, zero where the buffer does not reach.
  static std::shared_ptr<const PackedFrame> pack(const platform::PixelBuffer& pixels, size_t width, size_t height);
  // `pixels` as they are, when they can be kept (PixelBuffer::keepable) and
  // are rows packed at width x height; none otherwise.
  static std::shared_ptr<const PackedFrame> adopt(const platform::PixelBuffer& pixels, size_t width, size_t height);
  // `pixels`, which differ from what `previous` packed (a buffer of the same
  // size) only inside `changed`.
  static std::shared_ptr<const PackedFrame> update(const std::shared_ptr<const PackedFrame>& previous,
                                                   const platform::PixelBuffer& pixels, platform::PixelBox changed);

  size_t size() const { return size_; }
  // The frame's bytes in order.
  const std::vector<iovec>& spans() const { return spans_; }
  // A copy of the bytes, in one piece.
  std::vector<uint8_t> bytes() const;

 private:
  class Builder;

  size_t width_ = 0, height_ = 0, size_ = 0;
  struct Memory {
    std::shared_ptr<const void> owner;
    size_t length;  // what it occupies
  };
  std::vector<Memory> memory_;  // what the spans point into
  std::vector<iovec> spans_;
  std::vector<size_t> starts_;  // where each span starts in the frame
  std::vector<size_t> owners_;  // which memory each span lies in
};

using Frame = std::shared_ptr<const PackedFrame>;
