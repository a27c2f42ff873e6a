// X's text as the tool holds it, always valid UTF-8: STRING properties are
// Latin-1, and UTF8_STRING ones or process names may hold any bytes.
#pragma once

#include <string>
#include <string_view>

namespace platform::x11 {

// Latin-1 as UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

// `bytes` with each sequence that is not UTF-8 replaced by U+FFFD (one for
// each maximal part of a sequence, as Unicode recommends).
std::string validUtf8(std::string_view bytes);

}  // namespace platform::x11
