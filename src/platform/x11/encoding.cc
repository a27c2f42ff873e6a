#include "platform/x11/encoding.h"

#include <cstdint>
#include <utility>

namespace platform::x11 {

namespace {

constexpr std::string_view replacement = "\xef\xbf\xbd";

// How many bytes from `at` form one UTF-8 character, and whether they do: when
// not, the count is the bytes that began one before it broke off (at least 1).
std::pair<size_t, bool> character(std::string_view bytes, size_t at) {
  auto byte = [&](size_t k) { return at + k < bytes.size() ? uint8_t(bytes[at + k]) : uint8_t(0); };
  uint8_t lead = byte(0);
  if (lead < 0x80) return {1, true};
  size_t length = 0;
  uint8_t low = 0x80, high = 0xbf;  // the second byte's range: excludes overlongs, surrogates, past U+10FFFF
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
  } else {
    return {1, false};
  }
  if (byte(1) < low || byte(1) > high) return {1, false};
  for (size_t k = 2; k < length; k++)
    if ((byte(k) & 0xc0) != 0x80) return {k, false};
  return {length, true};
}

}  // namespace

std::string latin1ToUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      text += char(b);
    } else {
      text += char(0xc0 | (b >> 6));
      text += char(0x80 | (b & 0x3f));
    }
  }
  return text;
}

std::string validUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    auto [length, valid] = character(bytes, at);
    if (valid)
      text += bytes.substr(at, length);
    else
      text += replacement;
    at += length;
  }
  return text;
}

}  // namespace platform::x11
