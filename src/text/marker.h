// The marker file that remembers, for seven days and one operating-system
// version, that the accurate level failed where the fast level worked. Its
// text is the version line, a line feed and the accurate level's error.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

struct Marker {
  std::optional<std::filesystem::path> path;  // none: there is nowhere to keep it
  std::string build;                          // the operating-system version it belongs to
};

// This user's marker for this operating-system version: in the caches
// directory ($XDG_CACHE_HOME, else ~/.cache), when there is one; the version
// is "<PRETTY_NAME of os-release> <kernel release>".
Marker thisSystemsMarker();

// The error stored in a marker written less than seven days ago (or dated in
// the future) under this operating-system version; nothing otherwise.
std::optional<std::string> failedLately(const Marker& marker);

// Writes the marker for `description`, with its folder: the new text replaces
// the file whole, so a reader sees the old marker or the new one. Failures
// are ignored.
void markAccurateFailed(const Marker& marker, const std::string& description);
