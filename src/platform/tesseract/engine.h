// One Tesseract engine: its language data loaded once and kept, then any
// number of grey images read one after the other.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tesseract/baseapi.h>

#include "platform/text.h"

namespace platform {

class Engine {
 public:
  Engine();
  ~Engine();

  // The lines Tesseract reads in `grey` (8 bits a pixel), with boxes
  // normalised to its size. `languages` are Tesseract codes joined with "+";
  // `dictionaries` lets the word lists correct what the engine reads. The data
  // loads on the first call, and again only when these change. Throws Error.
  std::vector<RecognizedTextObservation> read(Pix* grey, const std::string& languages, bool dictionaries);

 private:
  void load(const std::string& languages, bool dictionaries);

  tesseract::TessBaseAPI api_;
  std::optional<std::pair<std::string, bool>> loaded_;
};

// The languages whose data is installed, as Tesseract names them, sorted.
std::vector<std::string> installedLanguages();

}  // namespace platform
