// UTF-8 checks for text that comes from outside.
#pragma once

#include <string>
#include <string_view>

bool validUtf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD.
std::string replacingInvalidUtf8(std::string_view text);
