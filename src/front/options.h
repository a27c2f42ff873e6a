// The command line's options, read into one plain record.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "front/job.h"
#include "platform/content.h"

struct Size {
  double width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

struct Options {
  uint32_t display = 0;  // parse() sets the main display
  std::optional<platform::Rect> crop;
  int64_t fps = 30;
  bool cursor = false;
  std::set<int32_t> excluded;
  bool verbose = false;
  std::optional<uint32_t> window;
  std::optional<Size> size;
  std::optional<std::string> out;
};

// Reads `arguments` into Options, starting from the defaults with the main
// display `mainDisplay`. The job changes only the final checks. A bad or
// missing value ends the process with exit code 2.
Options parse(const std::vector<std::string>& arguments, uint32_t mainDisplay, Job job = Job::video);
