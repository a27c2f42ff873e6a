#include "platform/x11/buffers.h"

#include <algorithm>

namespace platform::x11 {

BufferPool::BufferPool(const std::shared_ptr<Connection>& connection, int count, int width, int height)
    : width_(width), height_(height) {
  for (int i = 0; i < std::max(count, 1); i++)
    slots_.push_back(std::make_shared<Slot>(connection, size_t(width) * size_t(height) * 4));
}

BufferPool::Slot* BufferPool::take() {
  for (auto& slot : slots_)
    if (!slot->held.load(std::memory_order_acquire)) return slot.get();
  return nullptr;
}

PixelBuffer BufferPool::hand(Slot* slot) {
  std::shared_ptr<Slot> kept;
  for (auto& s : slots_)
    if (s.get() == slot) kept = s;
  slot->held.store(true, std::memory_order_relaxed);
  PixelBuffer buffer;
  buffer.baseAddress = slot->memory.data();
  buffer.bytesPerRow = size_t(width_) * 4;
  buffer.width = size_t(width_);
  buffer.height = size_t(height_);
  // The slot (and so its memory) lives as long as the last holder.
  buffer.owner = std::shared_ptr<const void>(slot->memory.data(), [kept](const void*) {
    kept->held.store(false, std::memory_order_release);
  });
  return buffer;
}

}  // namespace platform::x11
