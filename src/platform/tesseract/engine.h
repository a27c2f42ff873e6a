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

// Where a picture the engine reads lies in the whole picture: its pixel
// (x, y) is the whole picture's (left + x / scaleX, top + y / scaleY).
struct Placement {
  double left = 0, top = 0, scaleX = 1, scaleY = 1;
  int wholeWidth = 0, wholeHeight = 0;  // pixels
};

class Engine {
 public:
  Engine();
  ~Engine();

  // The lines Tesseract reads in `grey` (8 bits a pixel), with boxes
  // normalised to the whole picture in which `grey` lies at `placement`.
  // Unless `darkOnLight`, lines it reads poorly are read inverted too.
  // `languages` are Tesseract codes joined with "+"; `dictionaries` lets the
  // word lists correct what the engine reads. The data loads on the first
  // call, and again only when these change. Throws Error.
  std::vector<RecognizedTextObservation> read(Pix* grey, const Placement& placement, bool darkOnLight,
                                              const std::string& languages, bool dictionaries);

 private:
  void load(const std::string& languages, bool dictionaries);

  tesseract::TessBaseAPI api_;
  std::optional<std::pair<std::string, bool>> loaded_;
};

// The languages whose data is installed, as Tesseract names them, sorted.
std::vector<std::string> installedLanguages();

}  // namespace platform
