// What the compositor says of its outputs, and the rules that make displays
// of them: ids, sizes in points and pixels, which one is the main display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/content.h"
#include "platform/wayland/pixels.h"

namespace platform::wayland {

struct OutputState {
  uint32_t global = 0;  // the registry's name of the wl_output
  std::string name;     // "HEADLESS-1", "DP-1"; empty when the compositor gives none
  int32_t modeWidth = 0, modeHeight = 0;  // the current mode, before the transform
  int32_t transform = 0;                  // wl_output.transform: 0 is upright
  int32_t scale = 1;                      // wl_output.scale
  int32_t x = 0, y = 0;                   // wl_output.geometry's position
  std::optional<Box> logical;             // xdg-output's position and size, points
};

// The name a display goes by: the output's, else one made of its global.
std::string displayName(const OutputState& output);
// The same for every process while the output stays plugged: made of its name.
uint32_t displayID(const OutputState& output);
// The output's pixel size as its frames have it (after the transform).
DisplayMode pixelSize(const OutputState& output);
// The display: position and size in points (xdg-output's logical box, else
// the pixels divided by the scale).
Display display(const OutputState& output);
// The displays, the main one first (the output at the layout's origin, else
// the first), the rest in the compositor's order.
std::vector<Display> displays(const std::vector<OutputState>& outputs);

// What a capture of `output` shows, in its pixels: the whole output, or
// `sourceRect` (points, relative to the output) at the output's pixel scale.
// It may reach past the output.
Box area(const OutputState& output, const std::optional<Rect>& sourceRect);

// Why `output` cannot be captured by this backend, if it cannot.
std::optional<std::string> uncapturable(const OutputState& output);

}  // namespace platform::wayland
