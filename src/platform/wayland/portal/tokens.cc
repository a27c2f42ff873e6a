#include "platform/wayland/portal/tokens.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/unfinished_file.h"

namespace platform::wayland::portal {

std::optional<std::string> tokenFolder(const std::function<std::optional<std::string>(const std::string&)>& variable) {
  // XDG base directories must be absolute paths; a relative one is ignored.
  auto state = variable("XDG_STATE_HOME");
  if (state && !state->empty() && state->front() == '/') return *state + "/pellix-capture";
  auto home = variable("HOME");
  if (home && !home->empty()) return *home + "/.local/state/pellix-capture";
  return std::nullopt;
}

std::optional<std::string> tokenIn(const std::string& contents) {
  std::string token = contents;
  if (!token.empty() && token.back() == '\n') token.pop_back();
  if (token.empty() || token.size() > 256) return std::nullopt;
  for (unsigned char c : token)
    if (!isalnum(c) && c != '-' && c != '_') return std::nullopt;
  return token;
}

std::string Tokens::path(uint32_t displayID) const {
  return folder_.value_or("") + "/screencast-" + std::to_string(displayID);
}

std::optional<std::string> Tokens::load(uint32_t displayID) const {
  if (!folder_) return std::nullopt;
  std::ifstream file(path(displayID));
  if (!file) return std::nullopt;
  std::ostringstream contents;
  contents << file.rdbuf();
  return tokenIn(contents.str());
}

namespace {

// Makes `folder` and its missing parents, private to the user.
bool makeFolders(const std::string& folder) {
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = folder.find('/', slash + 1);
    std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

bool Tokens::save(uint32_t displayID, const std::string& token) const {
  if (!folder_ || !makeFolders(*folder_)) return false;
  UnfinishedFile file(path(displayID));
  if (file.fd() < 0) return false;
  std::string line = token + "\n";
  bool written = fchmod(file.fd(), 0600) == 0 && write(file.fd(), line.data(), line.size()) == ssize_t(line.size());
  close(file.fd());
  return written && file.finish();
}

void Tokens::forget(uint32_t displayID) const {
  if (folder_) unlink(path(displayID).c_str());
}

}  // namespace platform::wayland::portal
