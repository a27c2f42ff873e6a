#include "front/globals.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>

double soundRate = 48000;
double soundLag = 0.03;
double soundBehind = 0.06;
double soundSlack = 0.01;
std::optional<std::filesystem::path> accurateFailed;
std::string thisBuild;
std::optional<std::string> command;
bool audio = false;
bool shot = false;
bool listing = false;
Options options;
platform::Capture* capture = nullptr;

std::optional<std::filesystem::path> accurateFailedPath() {
  std::filesystem::path caches;
  if (const char* xdg = getenv("XDG_CACHE_HOME"); xdg && *xdg)
    caches = xdg;
  else if (const char* home = getenv("HOME"); home && *home)
    caches = std::filesystem::path(home) / ".cache";
  else
    return std::nullopt;
  return caches / "pellix-capture/accurate-text-failed";
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
