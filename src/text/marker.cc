#include "text/marker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/utsname.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "text/unicode.h"

namespace {

constexpr double markerLifetime = 604800;  // seconds: seven days

std::optional<std::string> readWhole(const std::filesystem::path& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text.append(chunk, size_t(n));
  close(fd);
  if (n < 0) return std::nullopt;
  return text;
}

// Seconds from the file's modification time to now; negative when it lies ahead.
std::optional<double> age(const std::filesystem::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  auto modified = std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec);
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(now - modified).count();
}

// Position of the first line feed at or after `from` that is a character of
// its own: a carriage return and line feed together are one other character.
size_t lineFeed(const std::string& text, size_t from) {
  for (size_t at = text.find('\n', from); at != std::string::npos; at = text.find('\n', at + 1))
    if (at == 0 || text[at - 1] != '\r') return at;
  return std::string::npos;
}

bool writeAside(const std::filesystem::path& aside, const std::string& text) {
  int fd = open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  return close(fd) == 0 && done == text.size();
}

std::optional<std::filesystem::path> cachesDirectory() {
  if (const char* xdg = getenv("XDG_CACHE_HOME"); xdg && *xdg) return xdg;
  if (const char* home = getenv("HOME"); home && *home) return std::filesystem::path(home) / ".cache";
  return std::nullopt;
}

std::string operatingSystemVersion() {
  struct utsname system {};
  uname(&system);
  std::string pretty = system.sysname;
  std::ifstream release("/etc/os-release");
  for (std::string line; std::getline(release, line);) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    pretty = line.substr(12);
    if (pretty.size() >= 2 && (pretty.front() == '"' || pretty.front() == '\'') &&
        pretty.back() == pretty.front())
      pretty = pretty.substr(1, pretty.size() - 2);
    break;
  }
  return pretty + " " + system.release;
}

}  // namespace

Marker thisSystemsMarker() {
  Marker marker{std::nullopt, operatingSystemVersion()};
  if (auto caches = cachesDirectory()) marker.path = *caches / "pellix-capture/accurate-text-failed";
  return marker;
}

std::optional<std::string> failedLately(const Marker& marker) {
  if (!marker.path) return std::nullopt;
  auto text = readWhole(*marker.path);
  if (!text || !validUtf8(*text)) return std::nullopt;
  auto seconds = age(*marker.path);
  if (!seconds || !(*seconds < markerLifetime)) return std::nullopt;

  // The build line, then everything after its line feed, which may hold more
  // line feeds; empty lines before the build line do not count.
  size_t start = text->find_first_not_of('\n');
  if (start == std::string::npos) return std::nullopt;
  size_t end = lineFeed(*text, start);
  if (end == std::string::npos || end + 1 == text->size()) return std::nullopt;
  if (text->compare(start, end - start, marker.build) != 0) return std::nullopt;
  return text->substr(end + 1);
}

void markAccurateFailed(const Marker& marker, const std::string& description) {
  if (!marker.path) return;
  std::error_code ignored;
  std::filesystem::create_directories(marker.path->parent_path(), ignored);
  // Written aside, then renamed over the marker: the rename is atomic.
  auto aside = *marker.path;
  aside += ".new-" + std::to_string(getpid());
  if (writeAside(aside, marker.build + "\n" + description))
    std::filesystem::rename(aside, *marker.path, ignored);
  std::filesystem::remove(aside, ignored);
}
