// Language names: Tesseract's codes against BCP-47 codes, and the user's
// preferred languages from the locale variables.
#pragma once

#include <string>
#include <vector>

namespace platform {

// "eng" → "en-US", "chi_sim" → "zh-Hans"; a code without a known match keeps
// its name, with "-" for "_".
std::string bcp47FromTesseract(const std::string& code);
// The reverse of bcp47FromTesseract.
std::string tesseractFromBcp47(const std::string& code);

// LANGUAGE (a colon list), else LC_ALL, LC_MESSAGES or LANG, each locale
// name as a BCP-47 code ("de_CH.UTF-8" → "de-CH"); C and POSIX name none.
std::vector<std::string> preferredFromLocale();

}  // namespace platform
