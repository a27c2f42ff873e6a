// frame-to-png WIDTH HEIGHT OUT.png < frame.bgra
// Writes one raw BGRA frame, as the video job puts it out, as a PNG file.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/image/png_files.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: frame-to-png WIDTH HEIGHT OUT.png < frame.bgra\n";
    return 2;
  }
  int64_t width = std::atoll(argv[1]), height = std::atoll(argv[2]);
  auto pixels = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(std::cin),
                                                       std::istreambuf_iterator<char>());
  if (width <= 0 || height <= 0 || pixels->size() != size_t(width * height * 4)) {
    std::cerr << "frame-to-png: expected " << width * height * 4 << " bytes, got " << pixels->size() << "\n";
    return 2;
  }
  if (!platform::PngFiles().writePNG(argv[3], {width, height, pixels}, 72)) {
    std::cerr << "frame-to-png: cannot write " << argv[3] << "\n";
    return 2;
  }
}
