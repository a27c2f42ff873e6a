#include "text/languages.h"

#include <algorithm>
#include <optional>

#include "platform/error.h"


namespace {

// The first non-empty piece of `code` split at "-".
std::optional<std::string> primarySubtag(const std::string& code) {
  size_t start = code.find_first_not_of('-');
  if (start == std::string::npos) return std::nullopt;
  return code.substr(start, code.find('-', start) - start);
}

bool contains(const std::vector<std::string>& codes, const std::string& code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

}  // namespace

std::vector<std::string> chooseLanguages(platform::TextRecognition& recognition) {
  std::vector<std::string> supported;
  try {
    supported = recognition.supportedRecognitionLanguages(platform::RecognitionLevel::accurate);
  } catch (const platform::Error&) {
    // Nothing matches then, and the default stands.
  }

  std::vector<std::string> chosen;
  for (auto& preferred : recognition.preferredLanguages()) {
    if (contains(supported, preferred)) {
      chosen.push_back(preferred);
      continue;
    }
    auto primary = primarySubtag(preferred);
    auto same = std::find_if(supported.begin(), supported.end(),
                             [&](const std::string& code) { return primarySubtag(code) == primary; });
    if (same != supported.end()) chosen.push_back(*same);
  }
  if (chosen.empty()) chosen.push_back("en-US");

  std::vector<std::string> once;
  for (auto& code : chosen)
    if (!contains(once, code)) once.push_back(code);
  return once;
}
