// Picture files through libpng.
#pragma once

#include "platform/picture_files.h"

namespace platform {

class PngFiles : public PictureFiles {
 public:
  bool writePNG(const std::string& path, const Picture& image, double dotsPerInch) override;
};

}  // namespace platform
