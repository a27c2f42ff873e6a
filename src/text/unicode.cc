#include "text/unicode.h"

#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cstdint>

bool validUtf8(std::string_view text) {
  int32_t at = 0, size = int32_t(text.size());
  while (at < size) {
    UChar32 scalar;
    U8_NEXT(text.data(), at, size, scalar);
    if (scalar < 0) return false;
  }
  return true;
}

std::string replacingInvalidUtf8(std::string_view text) {
  if (validUtf8(text)) return std::string(text);
  std::string replaced;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size()))).toUTF8String(replaced);
  return replaced;
}
