#include "platform/tesseract/pix_image.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <utility>

namespace platform {

namespace {

// Leptonica hands PNG and JPEG files to libpng and libjpeg with their default
// message handlers, which print a broken file's complaints with fprintf on
// stdio's stderr ("libpng error: Read Error", "Premature end of JPEG file");
// libtiff's go to handlers Leptonica keeps quiet, and Leptonica's own are off.
// For the length of a decode stderr is a stream to /dev/null. The descriptor
// itself stays: the tool's own lines, written straight to it, and a crash's
// report still get out. The text service decodes on its one thread.
class QuietStdio {
 public:
  QuietStdio() {
    static FILE* nowhere = fopen("/dev/null", "we");
    saved_ = nowhere ? std::exchange(stderr, nowhere) : nullptr;
  }
  ~QuietStdio() {
    if (saved_) stderr = saved_;
  }
  QuietStdio(const QuietStdio&) = delete;
  QuietStdio& operator=(const QuietStdio&) = delete;

 private:
  FILE* saved_;
};

}  // namespace

std::shared_ptr<const Image> readImage(const std::string& path) {
  // A name with a NUL in it would open another file than the one asked for.
  if (path.find('\0') != std::string::npos) return nullptr;
  // Opening a named pipe waits for a writer, for good when none comes; only
  // regular files hold images.
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  QuietStdio quiet;
  l_int32 format, width, height, bitsPerSample, samplesPerPixel, colormapped;
  if (pixReadHeader(path.c_str(), &format, &width, &height, &bitsPerSample, &samplesPerPixel, &colormapped) != 0)
    return nullptr;
  // Leptonica holds colour as four bytes a pixel.
  if (uint64_t(width) * uint64_t(height) * 4 > availableMemory()) return nullptr;
  Pix* pix = pixRead(path.c_str());
  if (!pix) return nullptr;
  return std::make_shared<PixImage>(pix);
}

uint64_t availableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kilobytes;
  while (meminfo >> key >> kilobytes) {
    if (key == "MemAvailable:") return kilobytes * 1024;
    meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return std::numeric_limits<uint64_t>::max();
}

}  // namespace platform
