// What the screen capture service can capture, and how a capture is asked for:
// shareable content, content filters and stream configurations. Plain values,
// filled by a backend and read by the capture jobs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

struct Display {
  uint32_t displayID = 0;
  int64_t width = 0, height = 0;  // points
  std::string name;
  int64_t x = 0, y = 0;  // position on the desktop, points
};

struct RunningApplication {
  int32_t processID = 0;
  std::string applicationName;
};

struct Window {
  uint32_t windowID = 0;
  Rect frame;  // points, desktop coordinates, top-left origin
  std::string title;
  bool onScreen = false;
  std::optional<RunningApplication> owningApplication;
};

// One snapshot; the order of each list is fixed for an unchanged desktop.
struct ShareableContent {
  std::vector<Display> displays;
  std::vector<Window> windows;
  std::vector<RunningApplication> applications;
};

struct DisplayMode {
  int64_t pixelWidth = 0, pixelHeight = 0;
};

// What a stream or a screenshot captures.
struct ContentFilter {
  enum class Kind { displayExcluding, displayIncluding, window };
  Kind kind = Kind::displayExcluding;
  Display display;                               // display kinds
  std::vector<RunningApplication> applications;  // left out, or the only ones kept
  Window window;                                 // window kind
  Rect contentRect;                              // window kind: the window's size, points
  float pointPixelScale = 1;                     // window kind

  static ContentFilter excluding(const Display& d, std::vector<RunningApplication> apps) {
    return {Kind::displayExcluding, d, std::move(apps), {}, {}, 1};
  }
  static ContentFilter including(const Display& d, std::vector<RunningApplication> apps) {
    return {Kind::displayIncluding, d, std::move(apps), {}, {}, 1};
  }
};

// A duration of value / timescale seconds.
struct Time {
  int64_t value = 0;
  int32_t timescale = 0;
};

constexpr uint32_t fourCharCode(const char (&c)[5]) {
  return uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 |
         uint32_t(uint8_t(c[2])) << 8 | uint32_t(uint8_t(c[3]));
}
constexpr uint32_t pixelFormatBGRA = fourCharCode("BGRA");
inline const std::string colorSpaceSRGB = "sRGB";

// A property left alone keeps its default. A width or height of 0 means the
// source's own size.
struct StreamConfiguration {
  int64_t width = 0, height = 0;
  std::optional<Rect> sourceRect;  // points
  uint32_t pixelFormat = pixelFormatBGRA;
  std::string colorSpaceName = colorSpaceSRGB;
  Time minimumFrameInterval{1, 60};
  int queueDepth = 3;
  bool showsCursor = true;
  bool capturesAudio = false;
  int sampleRate = 48000;
  int channelCount = 2;
  bool excludesCurrentProcessAudio = false;
  bool ignoreShadowsSingleWindow = false;
  bool preservesAspectRatio = false;
};

}  // namespace platform
