#include "platform/wayland/slots.h"

#include <algorithm>

#include "platform/frame_memory.h"

namespace platform::wayland {

struct Slots::Slot {
  explicit Slot(size_t bytes) : bytes(bytes), memory(static_cast<uint8_t*>(frameMemory(bytes))) {}
  ~Slot() { releaseFrameMemory(memory, bytes); }
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  size_t bytes;
  uint8_t* memory;
  std::atomic<bool> held = false;
  Box stale;
};

Slots::Slots(int count, int width, int height) : width_(width), height_(height) {
  for (int i = 0; i < std::max(count, 1); i++) {
    slots_.push_back(std::make_shared<Slot>(size_t(width) * size_t(height) * 4));
    slots_.back()->stale = {0, 0, width, height};
  }
}

void Slots::changed(Box part) {
  for (auto& slot : slots_) slot->stale = united(slot->stale, part);
}

Slots::Slot* Slots::take() {
  for (auto& slot : slots_)
    if (!slot->held.load(std::memory_order_acquire)) return slot.get();
  return nullptr;
}

FrameView Slots::view(Slot* slot) const { return {slot->memory, width_, height_, 0, 0}; }

Box Slots::stale(Slot* slot) const { return slot->stale; }

PixelBuffer Slots::hand(Slot* slot) {
  std::shared_ptr<Slot> kept;
  for (auto& s : slots_)
    if (s.get() == slot) kept = s;
  slot->stale = {};
  slot->held.store(true, std::memory_order_relaxed);
  PixelBuffer buffer;
  buffer.baseAddress = slot->memory;
  buffer.bytesPerRow = size_t(width_) * 4;
  buffer.width = size_t(width_);
  buffer.height = size_t(height_);
  // The slot (and so its memory) lives as long as the last holder.
  buffer.owner = std::shared_ptr<const void>(slot->memory, [kept](const void*) {
    kept->held.store(false, std::memory_order_release);
  });
  return buffer;
}

}  // namespace platform::wayland
