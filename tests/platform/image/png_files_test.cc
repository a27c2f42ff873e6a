// PngFiles' files read back by libpng.
#include "platform/image/png_files.h"

#include <png.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../support/png_chunks.h"

namespace {

struct Decoded {
  int bitDepth = 0, colourType = -1;
  std::vector<uint8_t> bgra;
};

Decoded decode(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Decoded decoded;
  if (bytes.size() < 33) return decoded;
  decoded.bitDepth = uint8_t(bytes[24]);
  decoded.colourType = uint8_t(bytes[25]);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return decoded;
  image.format = PNG_FORMAT_BGRA;
  decoded.bgra.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, decoded.bgra.data(), 0, nullptr)) decoded.bgra.clear();
  return decoded;
}

TEST(PngFiles, WritesTheFewestBitsThatHoldThePixelsExactly) {
  const int width = 21, height = 15;  // rows that end inside a byte of indices
  struct Case {
    std::string name;
    size_t colours;
    bool translucent;
    int bitDepth, colourType;
  } cases[] = {
      {"two colours", 2, false, 1, PNG_COLOR_TYPE_PALETTE},
      {"eleven", 11, false, 4, PNG_COLOR_TYPE_PALETTE},
      {"ninety, some see-through", 90, true, 8, PNG_COLOR_TYPE_PALETTE},
      {"every pixel its own", width * height, false, 8, PNG_COLOR_TYPE_RGB},
      {"every pixel its own, some see-through", width * height, true, 8, PNG_COLOR_TYPE_RGB_ALPHA},
  };
  std::string path = testing::TempDir() + "pellix-png-" + std::to_string(getpid()) + ".png";
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto pixels = std::make_shared<std::vector<uint8_t>>();
    for (size_t i = 0; i < size_t(width * height); i++) {
      size_t colour = (i * 13) % c.colours;  // every colour used, scattered
      uint8_t alpha = c.translucent && colour % 3 == 0 ? uint8_t(colour) : 0xff;
      pixels->insert(pixels->end(), {uint8_t(colour * 83), uint8_t(colour * 151), uint8_t(colour >> 8), alpha});
    }
    ASSERT_TRUE(platform::PngFiles().writePNG(path, {width, height, pixels}, 144));
    Decoded decoded = decode(path);
    EXPECT_EQ(decoded.bitDepth, c.bitDepth);
    EXPECT_EQ(decoded.colourType, c.colourType);
    EXPECT_EQ(decoded.bgra, *pixels);
    auto facts = pngFacts(path);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->pixelsPerUnitX, 5669u);  // 144 dots per inch
    EXPECT_EQ(facts->pixelsPerUnitY, 5669u);
    EXPECT_EQ(facts->unit, 1);
  }
  std::filesystem::remove(path);
}

}  // namespace
