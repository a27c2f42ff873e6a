// The marker reader: any file content is read without fault, what it returns
// is the file's text after the build line, and a marker written by the tool
// reads back as written.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "front/globals.h"
#include "text/marker.h"
#include "text/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    char name[] = "/tmp/pellix-fuzz-XXXXXX";
    accurateFailed = std::filesystem::path(mkdtemp(name)) / "caches" / "accurate-text-failed";
    thisBuild = "Fuzz OS 1 (fuzz) 6.1.0";
    return true;
  }();
  (void)ready;
  std::string text(reinterpret_cast<const char*>(data), size);

  std::filesystem::create_directories(accurateFailed->parent_path());
  std::ofstream(*accurateFailed, std::ios::binary) << text;
  if (auto read = failedLately()) {
    if (text.size() < read->size() || text.compare(text.size() - read->size(), read->size(), *read) != 0) abort();
    if (text.find(thisBuild) == std::string::npos) abort();
  }

  // The tool's own marker for a description it could have met.
  if (!text.empty() && validUtf8(text)) {
    markAccurateFailed(text);
    if (failedLately() != text) abort();
  }
  std::filesystem::remove_all(accurateFailed->parent_path());
  return 0;
}
