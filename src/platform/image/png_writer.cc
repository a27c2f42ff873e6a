// PNG files through libpng, written beside their final place and renamed; a
// symbolic link is written through, to the file it points to.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/image/palette.h"
#include "platform/image/png_files.h"
#include "platform/unfinished_file.h"

namespace platform {

namespace {

bool opaque(const Picture& image) {
  const uint8_t* p = image.pixels->data();
  size_t count = size_t(image.width) * size_t(image.height);
  for (size_t i = 0; i < count; i++)
    if (p[i * 4 + 3] != 0xff) return false;
  return true;
}

// libpng would print its errors and warnings on standard error; the caller
// reports a failure in its own words.
void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void quietWarning(png_structp, png_const_charp) {}

// Few colours: indices into a palette. A 1080p xterm of text over a stippled
// root (two colours) takes 20 KiB and 6 ms instead of 700 KiB and 50 ms.
// (libpng's errors jump out of these through longjmp: the only objects with
// destructors live in `encode`, before its setjmp.)
void writeIndexed(png_structp png, png_infop info, const Picture& image, const Palette& palette,
                  std::vector<uint8_t>& row) {
  const std::vector<uint32_t>& colours = palette.colours();
  png_color entries[256];
  png_byte alphas[256];
  for (size_t i = 0; i < colours.size(); i++)
    entries[i] = {png_byte(colours[i] >> 16), png_byte(colours[i] >> 8), png_byte(colours[i])};
  size_t translucent = palette.translucent();
  for (size_t i = 0; i < translucent; i++) alphas[i] = png_byte(colours[i] >> 24);
  png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), palette.bitDepth(),
               PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, entries, int(colours.size()));
  if (translucent > 0) png_set_tRNS(png, info, alphas, int(translucent), nullptr);
  // Indices are no quantities: differences between neighbours mean nothing.
  png_set_filter(png, 0, PNG_FILTER_NONE);
  png_write_info(png, info);
  auto width = size_t(image.width);
  row.resize((width * size_t(palette.bitDepth()) + 7) / 8);
  const uint8_t* pixels = image.pixels->data();
  for (int64_t y = 0; y < image.height; y++, pixels += width * 4) {
    palette.pack(pixels, width, row.data());
    png_write_row(png, row.data());
  }
}

void writeTrueColour(png_structp png, png_infop info, const Picture& image) {
  // Screens are opaque: without the alpha channel the file is a quarter smaller.
  bool alpha = !opaque(image);
  png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Paeth with run-length deflate: on a 1080p photo-like screen 1810 KiB
  // against Sub's 2127 (Avg 1876, Up 2404), and on antialiased text over a
  // gradient 271 KiB against 319, for about a third more encoding time (40 ms
  // on the photo), which still leaves the whole screenshot well ahead of
  // scrot. On such pixels string matching gains nothing: zlib's at levels 1
  // to 6 is larger and slower, libdeflate's larger at every level (2189 KiB
  // at level 1, 1969 at level 6).
  png_set_filter(png, 0, PNG_FILTER_PAETH);
  png_write_info(png, info);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);
  const uint8_t* row = image.pixels->data();
  for (int64_t y = 0; y < image.height; y++, row += image.width * 4) png_write_row(png, row);
}

bool encode(FILE* file, const Picture& image, double dotsPerInch) {
  auto palette = Palette::of(image.pixels->data(), size_t(image.width) * size_t(image.height));
  std::vector<uint8_t> row;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  auto perMetre = png_uint_32(std::lround(dotsPerInch / 0.0254));
  png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
  // Run-length deflate is the quickest on either kind of row. On palette
  // indices it stays close to string matching (text scene: 19.6 KiB in 6 ms
  // against level 3's 17.1 KiB in 8 ms) and beats it on a photo quantised
  // to 12 colours (95 KiB against 107).
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_RLE);
  if (palette) {
    writeIndexed(png, info, image, *palette, row);
  } else {
    writeTrueColour(png, info, image);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

// The file that `path` names once the symbolic links at its end are followed:
// the one a link's owner means to write. None for a loop of links.
std::optional<std::string> throughLinks(std::string path) {
  for (int hops = 0; hops < 40; hops++) {  // the kernel's own limit
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::error_code error;
    std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) return std::nullopt;
    path = target.is_absolute() ? target.string() : (std::filesystem::path(path).parent_path() / target).string();
  }
  return std::nullopt;
}

// Writes into an open file and closes it; false if any step fails.
bool writeAndClose(int fd, const Picture& image, double dotsPerInch) {
  FILE* file = fdopen(fd, "wb");
  if (!file) {
    close(fd);
    return false;
  }
  bool written = encode(file, image, dotsPerInch);
  written = fflush(file) == 0 && written;
  return fclose(file) == 0 && written;
}

}  // namespace

bool PngFiles::writePNG(const std::string& path, const Picture& image, double dotsPerInch) {
  if (image.width <= 0 || image.height <= 0 || image.width > 0x7fffffff || image.height > 0x7fffffff) return false;
  auto target = throughLinks(path);
  if (!target) return false;
  struct stat existing;
  if (stat(target->c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    // A device, a pipe or a folder: write into it, never replace it.
    int fd = open(target->c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    return fd >= 0 && writeAndClose(fd, image, dotsPerInch);
  }
  UnfinishedFile file(*target);
  return file.fd() >= 0 && writeAndClose(file.fd(), image, dotsPerInch) && file.finish();
}

}  // namespace platform
