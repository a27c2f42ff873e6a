#include "front/options.h"

#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "front/diagnostics.h"

namespace {

// Decimal, an optional sign and at least one digit, nothing else, within the
// range of T. An unsigned T takes "-" only before zero.
template <typename T>
std::optional<T> readInteger(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  unsigned __int128 magnitude = 0;
  for (; i < text.size(); i++) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    magnitude = magnitude * 10 + unsigned(text[i] - '0');
    if (magnitude > (unsigned __int128)1 << 64) return std::nullopt;
  }
  using limits = std::numeric_limits<T>;
  if (!negative) {
    if (magnitude > (unsigned __int128)limits::max()) return std::nullopt;
    return T(magnitude);
  }
  if (magnitude == 0) return T(0);
  if (!limits::is_signed) return std::nullopt;
  if (magnitude > (unsigned __int128)(-(__int128)limits::min())) return std::nullopt;
  return T(-(__int128)magnitude);
}

// The comma-separated pieces that read as doubles in the C locale, in order;
// empty and unreadable pieces are dropped.
std::vector<double> readNumbers(const std::string& text) {
  static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  std::vector<double> numbers;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::string piece = text.substr(start, end - start);
    start = end + 1;
    if (piece.empty() || isspace((unsigned char)piece[0])) continue;
    char* rest = nullptr;
    double value = strtod_l(piece.c_str(), &rest, c);
    if (rest == piece.c_str() + piece.size()) numbers.push_back(value);
  }
  return numbers;
}

// A length the capture can turn into a pixel count: finite, and within what
// pixel sizes hold after truncation.
bool fitsPixels(double length) {
  return std::isfinite(length) && std::fabs(length) < double(std::numeric_limits<int32_t>::max()) + 1;
}

std::optional<Size> readSize(const std::string& text) {
  auto n = readNumbers(text);
  if (n.size() != 2 || !(n[0] >= 2) || !(n[1] >= 2) || !fitsPixels(n[0]) || !fitsPixels(n[1]))
    return std::nullopt;
  return Size{n[0], n[1]};
}

std::optional<platform::Rect> readCrop(const std::string& text) {
  auto n = readNumbers(text);
  if (n.size() != 4) return std::nullopt;
  for (double v : n)
    if (!fitsPixels(v)) return std::nullopt;
  return platform::Rect{n[0], n[1], n[2], n[3]};
}

}  // namespace

Options parse(const std::vector<std::string>& arguments, uint32_t mainDisplay, Job job) {
  Options options;
  options.display = mainDisplay;
  for (size_t i = 0; i < arguments.size(); i++) {
    const std::string& name = arguments[i];
    // An option's value is the very next argument, whatever it looks like.
    auto take = [&](const char* message, auto read) {
      decltype(read(name)) value;
      if (i + 1 < arguments.size()) value = read(arguments[++i]);
      return required(value, message);
    };
    if (name == "--display") {
      options.display = take("--display needs a display id", readInteger<uint32_t>);
    } else if (name == "--fps") {
      // The tick and the frame interval need a rate that fits 32 bits.
      auto fps = take("--fps needs a number", readInteger<int64_t>);
      if (fps < 1 || fps > std::numeric_limits<int32_t>::max()) fail(2, "--fps needs a number");
      options.fps = fps;
    } else if (name == "--cursor") {
      options.cursor = true;
    } else if (name == "--verbose") {
      options.verbose = true;
    } else if (name == "--exclude-pid") {
      options.excluded.insert(take("--exclude-pid needs a process id", readInteger<int32_t>));
    } else if (name == "--window") {
      options.window = take("--window needs a window id", readInteger<uint32_t>);
    } else if (name == "--size") {
      options.size = take("--size needs w,h", readSize);
    } else if (name == "--crop") {
      options.crop = take("--crop needs x,y,w,h", readCrop);
    } else if (name == "--out") {
      options.out = take("--out needs a file", [](const std::string& s) { return std::optional(s); });
    } else {
      fail(2, "unknown argument " + name);
    }
  }
  // Only the video stream scales a window to a size of the parent's choosing.
  bool sized = job == Job::video;
  if (options.window && !options.size && sized) fail(2, "--window needs --size");
  if (job == Job::shot && !options.out) fail(2, "shot needs --out <file.png>");
  return options;
}
