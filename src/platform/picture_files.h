// Where a still picture is kept: files of a standard image format.
#pragma once

#include <string>

#include "platform/picture.h"

namespace platform {

class PictureFiles {
 public:
  virtual ~PictureFiles() = default;
  // Writes `image` as a PNG file at `path` recording `dotsPerInch`, so that a
  // reader of `path` sees the old file or the whole new one, never a part.
  // False when the file cannot be created or finished.
  virtual bool writePNG(const std::string& path, const Picture& image, double dotsPerInch) = 0;
};

}  // namespace platform
