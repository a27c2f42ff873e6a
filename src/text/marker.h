// The marker file that remembers, for seven days and one operating-system
// version, that the accurate level failed where the fast level worked. Its
// text is the version line, a line feed and the accurate level's error.
#pragma once

#include <optional>
#include <string>

// The error stored in a marker written less than seven days ago (or dated in
// the future) under this operating-system version; nothing otherwise.
std::optional<std::string> failedLately();

// Writes the marker for `description`, with its folder: the new text replaces
// the file whole, so a reader sees the old marker or the new one. Failures
// are ignored.
void markAccurateFailed(const std::string& description);
