#include "platform/tesseract/line_drawing.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unicode/utf8.h>

#include <cmath>
#include <optional>

#include "platform/tesseract/pix_image.h"

namespace platform {

namespace {

struct FontFile {
  std::string path;
  int index = 0;
};

std::optional<FontFile> findFont(const std::string& name) {
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return std::nullopt;
  std::optional<FontFile> found;
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    found = FontFile{reinterpret_cast<const char*>(file), 0};
    FcPatternGetInteger(match, FC_INDEX, 0, &found->index);
  }
  FcPatternDestroy(match);
  return found;
}

// Black text over white: each pixel darkens by the glyph's coverage.
void darken(Pix* pix, int x, int y, unsigned coverage) {
  if (x < 0 || y < 0 || x >= pixGetWidth(pix) || y >= pixGetHeight(pix)) return;
  l_uint32 pixel;
  pixGetPixel(pix, x, y, &pixel);
  l_int32 level = GET_DATA_BYTE(&pixel, COLOR_RED);
  level = level * (255 - l_int32(coverage)) / 255;
  l_uint32 darker;
  composeRGBAPixel(level, level, level, 255, &darker);
  pixSetPixel(pix, x, y, darker);
}

void drawText(Pix* pix, const LineDrawing& drawing, const FontFile& font) {
  FT_Library library;
  if (FT_Init_FreeType(&library)) return;
  FT_Face face;
  if (FT_New_Face(library, font.path.c_str(), font.index, &face) == 0) {
    FT_Set_Char_Size(face, 0, FT_F26Dot6(std::lround(drawing.fontSize * 64)), 72, 72);
    FT_Pos penX = std::lround(drawing.x * 64);
    int baseline = drawing.height - int(std::lround(drawing.y));
    FT_UInt previous = 0;
    const std::string& text = drawing.text;
    for (int32_t at = 0; at < int32_t(text.size());) {
      UChar32 scalar;
      U8_NEXT(text.data(), at, int32_t(text.size()), scalar);
      if (scalar < 0) continue;
      FT_UInt glyph = FT_Get_Char_Index(face, FT_ULong(scalar));
      if (previous && glyph && FT_HAS_KERNING(face)) {
        FT_Vector kerning;
        if (FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &kerning) == 0) penX += kerning.x;
      }
      previous = glyph;
      if (FT_Load_Glyph(face, glyph, FT_LOAD_RENDER)) continue;
      FT_GlyphSlot slot = face->glyph;
      const FT_Bitmap& bitmap = slot->bitmap;
      if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
        int left = int(penX >> 6) + slot->bitmap_left, top = baseline - slot->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; row++)
          for (unsigned column = 0; column < bitmap.width; column++)
            darken(pix, left + int(column), top + int(row), bitmap.buffer[row * bitmap.pitch + column]);
      }
      penX += slot->advance.x;
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
}

}  // namespace

std::shared_ptr<const Image> drawLineWithFreeType(const LineDrawing& drawing) {
  if (drawing.width <= 0 || drawing.height <= 0) return nullptr;
  Pix* pix = pixCreate(drawing.width, drawing.height, 32);
  if (!pix) return nullptr;
  pixSetSpp(pix, 4);
  pixSetAllArbitrary(pix, 0xffffffff);
  if (auto font = findFont(drawing.fontName)) drawText(pix, drawing, *font);
  return std::make_shared<PixImage>(pix);
}

}  // namespace platform
