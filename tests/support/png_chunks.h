// Reads the size and the resolution of a PNG file from its chunks.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

struct PngFacts {
  uint32_t width = 0, height = 0;
  uint32_t pixelsPerUnitX = 0, pixelsPerUnitY = 0;
  uint8_t unit = 0;  // 1: metre
  uint8_t bitDepth = 0, colourType = 0;  // 3: palette, 2: RGB, 6: RGBA
};

inline std::optional<PngFacts> pngFacts(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() < 33 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return std::nullopt;
  auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
  };
  PngFacts facts;
  facts.width = be32(16);
  facts.height = be32(20);
  facts.bitDepth = uint8_t(bytes[24]);
  facts.colourType = uint8_t(bytes[25]);
  for (size_t at = 8; at + 8 <= bytes.size();) {
    uint32_t length = be32(at);
    std::string type = bytes.substr(at + 4, 4);
    if (type == "pHYs" && length == 9) {
      facts.pixelsPerUnitX = be32(at + 8);
      facts.pixelsPerUnitY = be32(at + 12);
      facts.unit = uint8_t(bytes[at + 16]);
    }
    if (type == "IEND") return facts;
    at += 12 + size_t(length);
  }
  return std::nullopt;  // cut short
}
