#include "platform/image/palette.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

uint32_t colourAt(const uint8_t* bgra, size_t i) {
  uint32_t colour;
  std::memcpy(&colour, bgra + i * 4, 4);
  return colour;
}

}  // namespace

size_t Palette::slotOf(uint32_t colour) const {
  size_t slot = (colour * 0x9E3779B1u) >> 23;  // the top 9 bits: 512 slots
  while (values_[slot] >= 0 && keys_[slot] != colour) slot = (slot + 1) % slots;
  return slot;
}

std::optional<Palette> Palette::of(const uint8_t* bgra, size_t count) {
  Palette palette;
  palette.values_.fill(-1);
  std::vector<uint32_t>& colours = palette.colours_;
  uint32_t previous = 0;
  for (size_t i = 0; i < count; i++) {
    uint32_t colour = colourAt(bgra, i);
    // Neighbours mostly share their colour: skip the table for a run.
    if (i > 0 && colour == previous) continue;
    previous = colour;
    size_t slot = palette.slotOf(colour);
    if (palette.values_[slot] >= 0) continue;
    if (colours.size() == 256) return std::nullopt;
    palette.keys_[slot] = colour;
    palette.values_[slot] = 0;
    colours.push_back(colour);
  }
  std::sort(colours.begin(), colours.end());
  for (size_t index = 0; index < colours.size(); index++) palette.values_[palette.slotOf(colours[index])] = int16_t(index);
  return palette;
}

int Palette::bitDepth() const {
  size_t n = colours_.size();
  return n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
}

size_t Palette::translucent() const {
  return size_t(std::find_if(colours_.begin(), colours_.end(), [](uint32_t c) { return c >> 24 == 0xff; }) -
                colours_.begin());
}

void Palette::pack(const uint8_t* bgra, size_t width, uint8_t* out) const {
  if (width == 0) return;
  const int bits = bitDepth();
  const int perByte = 8 / bits;
  uint32_t previous = colourAt(bgra, 0) + 1;  // differs from the first pixel
  unsigned index = 0, byte = 0;
  int filled = 0;
  for (size_t i = 0; i < width; i++) {
    uint32_t colour = colourAt(bgra, i);
    if (colour != previous) {
      index = unsigned(values_[slotOf(colour)]);
      previous = colour;
    }
    byte = (byte << bits) | index;
    if (++filled == perByte) {
      *out++ = uint8_t(byte);
      byte = 0;
      filled = 0;
    }
  }
  if (filled > 0) *out = uint8_t(byte << (bits * (perByte - filled)));
}

}  // namespace platform
