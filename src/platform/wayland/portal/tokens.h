// Restore tokens: what lets the portal start a screencast again without
// asking the user. One file per display, "screencast-<display id>" in
// $XDG_STATE_HOME/pellix-capture (default ~/.local/state/pellix-capture). A
// token works once: each start hands a new one, which replaces the file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform::wayland::portal {

// The tokens' folder, from the environment (`variable` gives a value, none
// when unset); none when neither XDG_STATE_HOME nor HOME is set.
std::optional<std::string> tokenFolder(const std::function<std::optional<std::string>(const std::string&)>& variable);

// The token a file holds: one line of letters, digits, '-' and '_' (the
// portals hand UUIDs), at most 256 long. None for anything else: a damaged
// file only means the user is asked again.
std::optional<std::string> tokenIn(const std::string& contents);

class Tokens {
 public:
  // Tokens in `folder`; none kept when there is no folder.
  explicit Tokens(std::optional<std::string> folder) : folder_(std::move(folder)) {}
  std::optional<std::string> load(uint32_t displayID) const;
  // Replaces the display's file at once (a reader sees the old token or the
  // new one), private to the user. False when it cannot be written.
  bool save(uint32_t displayID, const std::string& token) const;
  void forget(uint32_t displayID) const;
  // Whether there is a folder to keep tokens in.
  bool kept() const { return folder_.has_value(); }
  std::string path(uint32_t displayID) const;

 private:
  std::optional<std::string> folder_;
};

}  // namespace platform::wayland::portal
