// Memory for pixels that the X server writes into: an MIT-SHM segment when
// the server can attach one, else private memory. Either way touched once
// when made, so grabs never page-fault on fresh memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/x11/connection.h"

namespace platform::x11 {

class Segment {
 public:
  Segment(const std::shared_ptr<Connection>& connection, size_t bytes);
  ~Segment();
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool shared() const { return seg_ != XCB_NONE; }
  uint32_t seg() const { return seg_; }

 private:
  std::weak_ptr<Connection> connection_;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint32_t seg_ = XCB_NONE;
  bool mapped_ = false;  // private memory
};

// The outcome of a grab: done, an X error code, or a broken connection.
enum class Grab { done, refused, failed, broken };

// Grabs width × height pixels at (x, y) of `drawable` (depth 24 or 32, 4 bytes
// a pixel) into the start of `into`, rows packed. Refused: BadAccess.
Grab grab(Connection& connection, xcb_drawable_t drawable, int x, int y, int width, int height, Segment& into);

}  // namespace platform::x11
