// The colours of a picture that has few: a PNG then stores each pixel as an
// index into them, in as few bits as their number needs, which makes a
// desktop of text and flat windows many times smaller and quicker to deflate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

class Palette {
 public:
  // The colours of `count` BGRA pixels when there are at most 256 of them;
  // none otherwise.
  static std::optional<Palette> of(const uint8_t* bgra, size_t count);

  // Each distinct colour once, as the little-endian word of its BGRA bytes,
  // ascending: the colours that are not opaque come first.
  const std::vector<uint32_t>& colours() const { return colours_; }
  // Bits per index: 1, 2, 4 or 8, the fewest that number every colour.
  int bitDepth() const;
  // How many colours, from the first, are not opaque.
  size_t translucent() const;
  // `width` pixels (of this palette's colours) as indices packed into bytes,
  // leftmost pixel in the highest bits, the last byte padded with zeros.
  void pack(const uint8_t* bgra, size_t width, uint8_t* out) const;

 private:
  // Open addressing, at most half full: a colour's slot holds its index.
  static constexpr size_t slots = 512;
  std::array<uint32_t, slots> keys_{};
  std::array<int16_t, slots> values_{};
  std::vector<uint32_t> colours_;

  size_t slotOf(uint32_t colour) const;
};

}  // namespace platform
