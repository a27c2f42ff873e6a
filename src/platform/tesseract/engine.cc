#include "platform/tesseract/engine.h"

#include <leptonica/allheaders.h>
#include <tesseract/resultiterator.h>

#include <algorithm>

#include "platform/error.h"

namespace platform {

namespace {

// Tesseract's chatter goes to its debug file; ours is standard error.
void silence(tesseract::TessBaseAPI& api) { api.SetVariable("debug_file", "/dev/null"); }

struct SymbolBox {
  size_t begin, end;                // bytes of the line's string
  double left, top, right, bottom;  // pixels of the whole picture, top-left origin
};

// A line as Tesseract read it: its words joined by single spaces, and the
// box of every symbol; a part's box is the union of its symbols' boxes.
class TesseractText : public RecognizedText {
 public:
  TesseractText(int width, int height) : width_(width), height_(height) {}

  const std::string& string() const override { return text; }

  std::optional<Rect> boundingBox(size_t begin, size_t end) const override {
    std::optional<SymbolBox> united;
    for (auto& s : symbols) {
      if (s.end <= begin || s.begin >= end) continue;
      if (!united) {
        united = s;
        continue;
      }
      united->left = std::min(united->left, s.left);
      united->top = std::min(united->top, s.top);
      united->right = std::max(united->right, s.right);
      united->bottom = std::max(united->bottom, s.bottom);
    }
    if (!united) return std::nullopt;
    return Rect{united->left / width_, (height_ - united->bottom) / height_, (united->right - united->left) / width_,
                (united->bottom - united->top) / height_};
  }

  std::string text;
  std::vector<SymbolBox> symbols;

 private:
  double width_, height_;
};

}  // namespace

Engine::Engine() { silence(api_); }

Engine::~Engine() { api_.End(); }

void Engine::load(const std::string& languages, bool dictionaries) {
  if (loaded_ && *loaded_ == std::pair(languages, dictionaries)) return;
  loaded_.reset();
  api_.End();
  silence(api_);
  std::vector<std::string> names{"debug_file"}, values{"/dev/null"};
  if (!dictionaries) {
    names.insert(names.end(), {"load_system_dawg", "load_freq_dawg"});
    values.insert(values.end(), {"0", "0"});
  }
  bool ready = api_.Init(nullptr, languages.c_str(), tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values,
                         false) == 0;
  // Init succeeds when only some of the languages load.
  std::vector<std::string> loaded;
  if (ready) api_.GetLoadedLanguagesAsVector(&loaded);
  std::string missing;
  for (size_t start = 0; start <= languages.size();) {
    size_t end = std::min(languages.find('+', start), languages.size());
    std::string code = languages.substr(start, end - start);
    if (std::find(loaded.begin(), loaded.end(), code) == loaded.end()) missing += (missing.empty() ? "" : ", ") + code;
    start = end + 1;
  }
  if (!missing.empty()) {
    // Reading with a half-made engine crashes.
    api_.End();
    throw Error{recognitionFailed, "Tesseract cannot load its data for " + missing};
  }
  api_.SetPageSegMode(tesseract::PSM_AUTO);
  loaded_ = {languages, dictionaries};
}

std::vector<RecognizedTextObservation> Engine::read(Pix* grey, const Placement& placement, bool darkOnLight,
                                                    const std::string& languages, bool dictionaries) {
  load(languages, dictionaries);
  // Reading a line a second time inverted costs time, and finds nothing in
  // text already turned dark on light.
  api_.SetVariable("tessedit_do_invert", darkOnLight ? "0" : "1");
  api_.SetImage(grey);
  if (api_.Recognize(nullptr) != 0) {
    api_.Clear();
    throw Error{recognitionFailed, "Tesseract could not read the image"};
  }

  std::vector<RecognizedTextObservation> lines;
  std::shared_ptr<TesseractText> line;
  auto finish = [&] {
    if (line && !line->text.empty()) lines.push_back({{line}});
  };
  std::unique_ptr<tesseract::ResultIterator> at(api_.GetIterator());
  if (at) do {
      if (at->Empty(tesseract::RIL_SYMBOL)) continue;
      if (!line || at->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
        finish();
        line = std::make_shared<TesseractText>(placement.wholeWidth, placement.wholeHeight);
      } else if (at->IsAtBeginningOf(tesseract::RIL_WORD)) {
        line->text += ' ';
      }
      std::unique_ptr<char[]> symbol(at->GetUTF8Text(tesseract::RIL_SYMBOL));
      if (!symbol) continue;
      size_t begin = line->text.size();
      line->text += symbol.get();
      int left, top, right, bottom;
      if (at->BoundingBox(tesseract::RIL_SYMBOL, &left, &top, &right, &bottom))
        line->symbols.push_back({begin, line->text.size(), placement.left + left / placement.scaleX,
                                 placement.top + top / placement.scaleY, placement.left + right / placement.scaleX,
                                 placement.top + bottom / placement.scaleY});
    } while (at->Next(tesseract::RIL_SYMBOL));
  finish();
  at.reset();
  // Frees the image and the page's results, so memory stays flat.
  api_.Clear();
  return lines;
}

std::vector<std::string> installedLanguages() {
  // A failed Init still finds the data folder, which the list needs; asking
  // for a language no file can be named after costs nothing.
  tesseract::TessBaseAPI probe;
  silence(probe);
  probe.Init(nullptr, "/", tesseract::OEM_LSTM_ONLY);
  std::vector<std::string> available;
  probe.GetAvailableLanguagesAsVector(&available);
  probe.End();
  std::erase_if(available, [](const std::string& code) { return code == "osd"; });
  return available;
}

}  // namespace platform
