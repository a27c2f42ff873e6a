// The text recognition service: one JSON request per line of standard input,
// one JSON answer line each on standard output, in order. Never writes to
// standard error; every way it ends is exit code 0.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "front/answer.h"
#include "platform/text.h"
#include "text/marker.h"

// What the service holds for its whole life.
struct TextService {
  platform::TextRecognition& recognition;
  Marker marker;                          // where a failing accurate level is remembered
  std::vector<std::string> languages;     // chosen once, never empty
  bool fastLevel = false;                 // once true, stays true
  std::optional<std::string> fastReason;  // why not accurate; present exactly when fastLevel
};

// Announces itself, chooses the languages, tests the recognizer once, says
// it is ready and serves standard input to its end. Exits with code 0.
[[noreturn]] void serveText(platform::TextRecognition& recognition, const Marker& marker);

// Serves one request line with exactly one answer line.
void handleLine(TextService& service, const std::string& line);

// Adds "level" and "why" to `object` while the service reads at the fast level.
void addLevel(const TextService& service, Json& object);
