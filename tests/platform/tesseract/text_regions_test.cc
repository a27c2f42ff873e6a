#include "platform/tesseract/text_regions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tesseract/reading_scale.h"

namespace {

using platform::GreyPicture;
using platform::PixelBox;
using platform::TextRegion;

struct Fill {
  PixelBox box;
  uint8_t level;
};

// A line of block letters, 4 pixels wide and `height` high, 2 apart.
std::vector<Fill> letters(int x, int y, int count, uint8_t level, int height = 9) {
  std::vector<Fill> line;
  for (int i = 0; i < count; i++) line.push_back({{x + i * 6, y, 4, height}, level});
  return line;
}

// An outline one pixel wide.
std::vector<Fill> outline(PixelBox box, uint8_t level) {
  return {{{box.x, box.y, box.width, 1}, level},
          {{box.x, box.y + box.height - 1, box.width, 1}, level},
          {{box.x, box.y, 1, box.height}, level},
          {{box.x + box.width - 1, box.y, 1, box.height}, level}};
}

// A box whose rows go evenly from one grey level to another.
std::vector<Fill> gradient(PixelBox box, int from, int to) {
  std::vector<Fill> rows;
  for (int y = 0; y < box.height; y++)
    rows.push_back({{box.x, box.y + y, box.width, 1}, uint8_t(from + (to - from) * y / (box.height - 1))});
  return rows;
}

struct Scene {
  int width = 320, height = 200;
  uint8_t desktop = 0;
  bool checkered = false;  // the desktop alternates 40 and 200 pixel by pixel
  std::vector<Fill> fills;
};

Scene on(uint8_t desktop) {
  Scene scene;
  scene.desktop = desktop;
  return scene;
}

GreyPicture draw(const Scene& scene) {
  GreyPicture picture{scene.width, scene.height, std::vector<uint8_t>(size_t(scene.width) * scene.height)};
  for (int y = 0; y < scene.height; y++)
    for (int x = 0; x < scene.width; x++)
      picture.pixels[size_t(y) * scene.width + x] = scene.checkered ? ((x + y) % 2 ? 40 : 200) : scene.desktop;
  for (auto& fill : scene.fills)
    for (int y = fill.box.y; y < fill.box.y + fill.box.height; y++)
      for (int x = fill.box.x; x < fill.box.x + fill.box.width; x++)
        picture.pixels[size_t(y) * scene.width + x] = fill.level;
  return picture;
}

Scene with(Scene scene, const std::vector<Fill>& more) {
  scene.fills.insert(scene.fills.end(), more.begin(), more.end());
  return scene;
}

bool inside(const PixelBox& inner, const PixelBox& outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

// What a part shows at a point of the whole picture.
uint8_t shown(const TextRegion& region, int x, int y) {
  return region.picture.at(x - region.box.x, y - region.box.y);
}

TEST(TextRegions, EachBackgroundIsOnePartWithItsTextDarkOnLight) {
  const PixelBox window{20, 20, 150, 60}, beside{190, 30, 110, 50};
  struct Case {
    std::string name;
    Scene scene;
    std::vector<std::vector<PixelBox>> parts;  // the letters each part holds, in order
  } cases[] = {
      {"a white window on a black desktop",
       with(on(0), {{window, 255}, {{30, 30, 4, 9}, 0}, {{30, 50, 4, 9}, 0}}),
       {{{30, 30, 4, 9}, {30, 50, 4, 9}}}},
      {"a black window with light text on a white desktop",
       with(on(255), {{window, 0}, {{30, 30, 4, 9}, 230}}), {{{30, 30, 4, 9}}}},
      {"letters two pixels from the window's edge stay whole",
       with(on(0), {{window, 255}, {{22, 22, 4, 9}, 0}, {{164, 69, 4, 9}, 0}}),
       {{{22, 22, 4, 9}, {164, 69, 4, 9}}}},
      {"two windows side by side, the one whose text is higher first",
       with(on(128), {{window, 255}, {{30, 40, 4, 9}, 0}, {beside, 20}, {{200, 35, 4, 9}, 220}}),
       {{{200, 35, 4, 9}}, {{30, 40, 4, 9}}}},
      {"a window on a window",
       with(on(0), {{{20, 20, 280, 160}, 255}, {{25, 25, 4, 9}, 0}, {{35, 40, 130, 42}, 30}, {{70, 50, 4, 9}, 220}}),
       {{{25, 25, 4, 9}}, {{70, 50, 4, 9}}}},
      {"large letters, whose strokes and insides are flat too",
       with(with(on(0), {{{20, 20, 280, 160}, 255}, {{60, 40, 60, 80}, 0}, {{70, 50, 40, 60}, 255},
                                  {{140, 40, 12, 80}, 0}}),
            {}),
       {{{60, 40, 60, 80}, {69, 50, 1, 60}, {140, 40, 12, 80}}}},
      {"light text on a gradient", with(with(on(0), gradient({20, 20, 280, 160}, 40, 120)),
                                        {{{40, 40, 4, 9}, 240}, {{40, 160, 4, 9}, 240}}),
       {{{40, 40, 4, 9}, {40, 160, 4, 9}}}},
      {"text on the desktop beside a window",
       with(on(0), {{window, 255}, {{30, 30, 4, 9}, 0}, {{250, 150, 4, 9}, 255}}),
       {{{30, 30, 4, 9}}, {{250, 150, 4, 9}}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto regions = platform::textRegions(draw(c.scene));
    ASSERT_EQ(regions.size(), c.parts.size());
    for (size_t i = 0; i < regions.size(); i++) {
      auto& region = regions[i];
      EXPECT_TRUE(region.darkOnLight);
      uint8_t paper = region.picture.at(0, 0);
      EXPECT_GT(paper, 128);
      for (auto& letter : c.parts[i]) {
        EXPECT_TRUE(inside(letter, region.box)) << i;
        EXPECT_LT(shown(region, letter.x, letter.y), 64) << i;
        EXPECT_LT(shown(region, letter.x + letter.width - 1, letter.y + letter.height - 1), 64) << i;
      }
    }
  }
}

TEST(TextRegions, WindowBordersAndTextlessPicturesGiveNoParts) {
  const PixelBox window{20, 20, 150, 60};
  struct Case {
    std::string name;
    Scene scene;
  } cases[] = {
      {"a blank picture", on(90)},
      {"windows without text", with(on(0), {{window, 255}, {{200, 100, 80, 60}, 60}})},
      {"a window with a border", with(with(on(200), outline({19, 19, 152, 62}, 0)), {{window, 255}})},
      {"a window with a thick border",
       with(on(128), {{{17, 17, 156, 66}, 0}, {window, 255}})},
      {"an empty picture", [] { Scene empty; empty.width = empty.height = 0; return empty; }()},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::textRegions(draw(c.scene)).size(), 0u);
  }
}

TEST(TextRegions, WhatLiesOnNoBackgroundIsReadAsItIsWithTheWindowsBlanked) {
  Scene scene = with([] { Scene checkered; checkered.checkered = true; return checkered; }(), {{{20, 20, 150, 60}, 255}, {{30, 30, 4, 9}, 0}});
  auto regions = platform::textRegions(draw(scene));
  ASSERT_EQ(regions.size(), 2u);
  auto& desktop = regions[0];
  EXPECT_EQ(desktop.box, (PixelBox{0, 0, 320, 200}));
  EXPECT_FALSE(desktop.darkOnLight);
  EXPECT_EQ(shown(desktop, 300, 100), 40 + 160 * ((300 + 100) % 2 == 0));
  EXPECT_EQ(shown(desktop, 30, 30), 255);  // the window's letter is read with the window
  auto& window = regions[1];
  EXPECT_TRUE(inside({30, 30, 4, 9}, window.box));
  EXPECT_TRUE(inside(window.box, {20, 20, 150, 60}));
}

TEST(TextRegions, OutlinesAroundTextAreErased) {
  // A button: a word in a box; a table: two cells; a letter O holds nothing
  // and stays.
  Scene scene = with(on(0), {{{20, 20, 280, 160}, 255}});
  scene = with(scene, outline({40, 40, 40, 17}, 0));
  scene = with(scene, letters(44, 44, 5, 0));
  scene = with(scene, outline({100, 40, 30, 30}, 0));
  scene = with(scene, outline({40, 100, 60, 20}, 0));
  scene = with(scene, outline({99, 100, 60, 20}, 0));
  scene = with(scene, letters(45, 105, 3, 0));
  scene = with(scene, letters(105, 105, 3, 0));
  auto regions = platform::textRegions(draw(scene));
  ASSERT_EQ(regions.size(), 1u);
  auto& window = regions[0];
  EXPECT_GT(shown(window, 40, 48), 128);   // the button's side
  EXPECT_GT(shown(window, 60, 40), 128);   // its top
  EXPECT_GT(shown(window, 99, 110), 128);  // the line between the cells
  EXPECT_LT(shown(window, 100, 50), 64);   // the O
  EXPECT_LT(shown(window, 44, 44), 64);    // the letters
  EXPECT_LT(shown(window, 105, 105), 64);
}

TEST(TextRegions, LineHeightIsTheTypicalHeightOfTheLinesOfInk) {
  struct Case {
    std::vector<int> heights;
    int lineHeight;
  } cases[] = {{{9}, 9}, {{11, 11, 13}, 11}, {{7, 20, 20}, 20}};
  for (auto& c : cases) {
    Scene scene = with(on(0), {{{10, 10, 300, 180}, 255}});
    int y = 20;
    for (int height : c.heights) {
      scene = with(scene, letters(20, y, 10, 0, height));
      y += height + 8;
    }
    auto regions = platform::textRegions(draw(scene));
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].lineHeight, c.lineHeight) << testing::PrintToString(c.heights);
  }
}

TEST(ReadingScale, SmallTextIsScaledUpAtBothLevelsLargerTextOnlyAtTheAccurateTextureAtNeither) {
  using platform::RecognitionLevel;
  struct Case {
    RecognitionLevel level;
    int lineHeight;
    double scale;
  } cases[] = {
      {RecognitionLevel::accurate, 11, 2},  {RecognitionLevel::accurate, 40, 2},
      {RecognitionLevel::accurate, 0, 1},   {RecognitionLevel::fast, 11, 1.25},
      {RecognitionLevel::fast, 13, 1.25},    {RecognitionLevel::fast, 14, 1},
      {RecognitionLevel::fast, 40, 1},      {RecognitionLevel::fast, 0, 1},
  };
  for (auto& c : cases)
    EXPECT_EQ(platform::readingScale(c.level, c.lineHeight), c.scale) << int(c.level) << " " << c.lineHeight;
}

}  // namespace
