#include "platform/wayland/outputs.h"

#include <algorithm>
#include <cmath>

namespace platform::wayland {

std::string displayName(const OutputState& output) {
  return output.name.empty() ? "output " + std::to_string(output.global) : output.name;
}

uint32_t displayID(const OutputState& output) {
  // FNV-1a: short, and spread well enough for a handful of output names.
  uint32_t hash = 2166136261u;
  for (unsigned char c : displayName(output)) hash = (hash ^ c) * 16777619u;
  return hash == 0 ? 1 : hash;
}

DisplayMode pixelSize(const OutputState& output) {
  bool quarterTurn = output.transform % 2 == 1;  // 90 and 270, flipped or not
  if (quarterTurn) return {output.modeHeight, output.modeWidth};
  return {output.modeWidth, output.modeHeight};
}

Display display(const OutputState& output) {
  Display d;
  d.displayID = displayID(output);
  d.name = displayName(output);
  if (output.logical) {
    d.x = output.logical->x;
    d.y = output.logical->y;
    d.width = output.logical->width;
    d.height = output.logical->height;
  } else {
    auto pixels = pixelSize(output);
    int32_t scale = std::max(output.scale, 1);
    d.x = output.x;
    d.y = output.y;
    d.width = pixels.pixelWidth / scale;
    d.height = pixels.pixelHeight / scale;
  }
  return d;
}

std::vector<Display> displays(const std::vector<OutputState>& outputs) {
  std::vector<Display> all;
  for (auto& output : outputs) all.push_back(display(output));
  auto main = std::find_if(all.begin(), all.end(), [](const Display& d) { return d.x == 0 && d.y == 0; });
  if (main != all.end()) std::rotate(all.begin(), main, main + 1);
  return all;
}

Box area(const OutputState& output, const std::optional<Rect>& sourceRect) {
  auto pixels = pixelSize(output);
  if (!sourceRect) return {0, 0, int(pixels.pixelWidth), int(pixels.pixelHeight)};
  auto points = display(output);
  double scale = points.width > 0 ? double(pixels.pixelWidth) / double(points.width) : 1;
  auto& r = *sourceRect;
  return {int(std::lround(r.x * scale)), int(std::lround(r.y * scale)), int(std::lround(r.width * scale)),
          int(std::lround(r.height * scale))};
}

std::optional<std::string> uncapturable(const OutputState& output) {
  if (output.modeWidth <= 0 || output.modeHeight <= 0) return "it has no mode (it is off)";
  if (output.transform != 0)
    return "it is rotated or flipped (transform " + std::to_string(output.transform) +
           "), which this tool does not capture yet";
  return std::nullopt;
}

}  // namespace platform::wayland
