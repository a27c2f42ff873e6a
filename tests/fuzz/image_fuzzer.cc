// Image decoding: any bytes in a file either decode into an image with
// pixels, or into nothing, without fault.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/tesseract/pix_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/pellix-fuzz-XXXXXX";
    return std::string(mkdtemp(name)) + "/image";
  }();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || write(fd, data, size) != ssize_t(size) || close(fd) != 0) abort();
  if (auto image = platform::readImage(path))
    if (image->width() == 0 || image->height() == 0) abort();
  return 0;
}
