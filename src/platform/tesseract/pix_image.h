// Images as Leptonica holds them: decoded files and drawn lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <leptonica/allheaders.h>

#include "platform/text.h"

namespace platform {

class PixImage : public Image {
 public:
  explicit PixImage(Pix* pix) : pix_(pix) {}  // takes it over
  ~PixImage() override { pixDestroy(&pix_); }
  PixImage(const PixImage&) = delete;
  PixImage& operator=(const PixImage&) = delete;

  size_t width() const override { return size_t(pixGetWidth(pix_)); }
  size_t height() const override { return size_t(pixGetHeight(pix_)); }
  Pix* pix() const { return pix_; }

 private:
  Pix* pix_;
};

// The first image of the regular file at `path`, as stored; null when there
// is none, or when decoding it would not fit in the memory that is free.
// Whatever the decoders would print about a broken file is dropped: standard
// error is closed off while it runs, so no other thread may write there then.
std::shared_ptr<const Image> readImage(const std::string& path);

// Bytes of memory free for use now, as the kernel estimates it.
uint64_t availableMemory();

}  // namespace platform
