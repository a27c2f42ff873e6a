#include "platform/tesseract/languages.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace platform {

namespace {

// The regions are the ones the languages are most often read in.
constexpr std::pair<const char*, const char*> names[] = {
    {"eng", "en-US"}, {"deu", "de-DE"},   {"fra", "fr-FR"},   {"ita", "it-IT"}, {"spa", "es-ES"},
    {"por", "pt-BR"}, {"nld", "nl-NL"},   {"chi_sim", "zh-Hans"}, {"chi_tra", "zh-Hant"},
    {"jpn", "ja-JP"}, {"kor", "ko-KR"},   {"rus", "ru-RU"},   {"ukr", "uk-UA"}, {"pol", "pl-PL"},
    {"ces", "cs-CZ"}, {"slk", "sk-SK"},   {"swe", "sv-SE"},   {"dan", "da-DK"}, {"nor", "nb-NO"},
    {"fin", "fi-FI"}, {"tur", "tr-TR"},   {"ell", "el-GR"},   {"hun", "hu-HU"}, {"ron", "ro-RO"},
    {"bul", "bg-BG"}, {"hrv", "hr-HR"},   {"srp", "sr-RS"},   {"slv", "sl-SI"}, {"cat", "ca-ES"},
    {"est", "et-EE"}, {"lav", "lv-LV"},   {"lit", "lt-LT"},   {"ara", "ar-SA"}, {"heb", "he-IL"},
    {"hin", "hi-IN"}, {"tha", "th-TH"},   {"vie", "vi-VN"},   {"ind", "id-ID"}, {"msa", "ms-MY"},
};

std::string replaced(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

// "de_CH.UTF-8@euro" → "de-CH"; nothing for C and POSIX.
std::string fromLocaleName(const std::string& locale) {
  std::string name = locale.substr(0, locale.find_first_of(".@"));
  if (name == "C" || name == "POSIX") return "";
  return replaced(name, '_', '-');
}

}  // namespace

std::string bcp47FromTesseract(const std::string& code) {
  for (auto [tesseract, bcp47] : names)
    if (code == tesseract) return bcp47;
  return replaced(code, '_', '-');
}

std::string tesseractFromBcp47(const std::string& code) {
  for (auto [tesseract, bcp47] : names)
    if (code == bcp47) return tesseract;
  return replaced(code, '-', '_');
}

std::vector<std::string> preferredFromLocale() {
  std::vector<std::string> preferred;
  if (const char* list = getenv("LANGUAGE"); list && *list) {
    std::string rest = list;
    for (size_t start = 0; start <= rest.size();) {
      size_t end = std::min(rest.find(':', start), rest.size());
      if (auto code = fromLocaleName(rest.substr(start, end - start)); !code.empty()) preferred.push_back(code);
      start = end + 1;
    }
    if (!preferred.empty()) return preferred;
  }
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(variable);
    if (!value || !*value) continue;
    if (auto code = fromLocaleName(value); !code.empty()) preferred.push_back(code);
    break;
  }
  return preferred;
}

}  // namespace platform
