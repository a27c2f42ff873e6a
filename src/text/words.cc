#include "text/words.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace {

// Byte ranges of the words of `text`.
std::vector<std::pair<size_t, size_t>> wordRanges(const std::string& text) {
  std::vector<std::pair<size_t, size_t>> ranges;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, decltype(&utext_close)> utext(
      utext_openUTF8(nullptr, text.data(), int64_t(text.size()), &status), utext_close);
  std::unique_ptr<icu::BreakIterator> clusters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return ranges;
  clusters->setText(utext.get(), status);
  if (U_FAILURE(status)) return ranges;

  constexpr size_t none = std::string::npos;
  size_t wordStart = none;
  for (int32_t start = clusters->first(), end = clusters->next(); end != icu::BreakIterator::DONE;
       start = end, end = clusters->next()) {
    int32_t at = start;
    UChar32 first;
    U8_NEXT(text.data(), at, int32_t(text.size()), first);
    bool space = first >= 0 && u_hasBinaryProperty(first, UCHAR_WHITE_SPACE);
    if (space && wordStart != none) {
      ranges.emplace_back(wordStart, size_t(start));
      wordStart = none;
    } else if (!space && wordStart == none) {
      wordStart = size_t(start);
    }
  }
  if (wordStart != none) ranges.emplace_back(wordStart, text.size());
  return ranges;
}

double oneDecimal(double value) { return std::round(value * 10) / 10; }

}  // namespace

Json words(const platform::RecognizedText& candidate, double width, double height) {
  // Pixel rectangles are scaled by the whole-pixel size, as the recognizer's
  // own boxes are.
  double pixelWidth = double(int64_t(width)), pixelHeight = double(int64_t(height));
  Json found = Json::array();
  const std::string& text = candidate.string();
  for (auto [begin, end] : wordRanges(text)) {
    auto box = candidate.boundingBox(begin, end);
    if (!box) continue;
    platform::Rect pixels{box->x * pixelWidth, box->y * pixelHeight, box->width * pixelWidth,
                          box->height * pixelHeight};
    if (pixels.width < 0) pixels = {pixels.x + pixels.width, pixels.y, -pixels.width, pixels.height};
    if (pixels.height < 0) pixels = {pixels.x, pixels.y + pixels.height, pixels.width, -pixels.height};
    double top = height - (pixels.y + pixels.height);
    found.push_back({{"t", text.substr(begin, end - begin)},
                     {"r", Json::array({oneDecimal(pixels.x), oneDecimal(top),
                                        oneDecimal(pixels.width), oneDecimal(pixels.height)})}});
  }
  return found;
}

Json lines(const std::vector<platform::RecognizedTextObservation>& results, double width,
           double height) {
  Json all = Json::array();
  for (auto& observation : results) {
    auto top = observation.topCandidates(1);
    if (top.empty()) continue;
    Json line = words(*top.front(), width, height);
    if (!line.empty()) all.push_back(std::move(line));
  }
  return all;
}
