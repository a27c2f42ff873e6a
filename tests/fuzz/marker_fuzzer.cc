// The marker reader: any file content is read without fault, what it returns
// is the file's text after the build line, and a marker written by the tool
// reads back as written.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "text/marker.h"
#include "text/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Marker marker = [] {
    char name[] = "/tmp/pellix-fuzz-XXXXXX";
    return Marker{std::filesystem::path(mkdtemp(name)) / "caches" / "accurate-text-failed", "Fuzz OS 1 (fuzz) 6.1.0"};
  }();
  std::string text(reinterpret_cast<const char*>(data), size);

  std::filesystem::create_directories(marker.path->parent_path());
  std::ofstream(*marker.path, std::ios::binary) << text;
  if (auto read = failedLately(marker)) {
    if (text.size() < read->size() || text.compare(text.size() - read->size(), read->size(), *read) != 0) abort();
    if (text.find(marker.build) == std::string::npos) abort();
  }

  // The tool's own marker for a description it could have met.
  if (!text.empty() && validUtf8(text)) {
    markAccurateFailed(marker, text);
    if (failedLately(marker) != text) abort();
  }
  std::filesystem::remove_all(marker.path->parent_path());
  return 0;
}
