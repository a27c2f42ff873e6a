#include "platform/tesseract/pix_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <limits>

namespace platform {

namespace {

// Leptonica hands PNG and JPEG files to libpng and libjpeg with their default
// message handlers, which print a broken file's complaints straight to
// standard error ("libpng error: Read Error", "Premature end of JPEG file");
// libtiff's and Leptonica's own messages are already off. The text service
// reads files on its one thread and says nothing while it does, so standard
// error points at /dev/null for the length of a decode, whichever library
// does it.
class QuietStandardError {
 public:
  QuietStandardError() : saved_(fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStandardError() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  int saved_;
};

}  // namespace

std::shared_ptr<const Image> readImage(const std::string& path) {
  // A name with a NUL in it would open another file than the one asked for.
  if (path.find('\0') != std::string::npos) return nullptr;
  // Opening a named pipe waits for a writer, for good when none comes; only
  // regular files hold images.
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  QuietStandardError quiet;
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
