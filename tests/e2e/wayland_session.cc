#include "wayland_session.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

// Runs `command` to its end in the session; its standard output.
std::string output(const std::vector<std::string>& command, const Environment& environment) {
  Child child(command, environment);
  child.closeIn();
  auto ending = child.wait();
  if (!ending.exited || ending.code != 0)
    throw std::runtime_error(command[0] + " " + command.back() + " failed: " + ending.err + ending.out);
  return ending.out;
}

}  // namespace

WaylandSession::WaylandSession(int width, int height, Portal portal) {
  std::string backend = portal == Portal::built ? PORTAL_BACKEND
                        : portal == Portal::debian ? "/usr/libexec/xdg-desktop-portal-wlr"
                                                   : "";
  script_ = std::make_unique<Child>(
      std::vector<std::string>{"bash", WAYLAND_SESSION, std::to_string(width), std::to_string(height)},
      Environment{{"PELLIX_PORTAL_BACKEND", backend}});
  for (;;) {
    auto line = script_->readLine(std::chrono::seconds(30));
    if (!line) throw std::runtime_error("the Wayland session did not start: " + script_->waitErr("", std::chrono::milliseconds(100)));
    if (*line == "ready") break;
    auto eq = line->find('=');
    if (eq != std::string::npos) environment_[line->substr(0, eq)] = line->substr(eq + 1);
  }
  environment_["DISPLAY"] = "";
  // The socket is sway-ipc.<uid>.<pid>.sock.
  auto& socket = environment_.at("SWAYSOCK");
  auto end = socket.rfind(".sock"), start = socket.rfind('.', end - 1);
  compositor_ = pid_t(std::stol(socket.substr(start + 1, end - start - 1)));
}

WaylandSession::~WaylandSession() {
  // The script stops the session when its standard input ends.
  script_->closeIn();
  auto ending = script_->wait(std::chrono::seconds(20));
  if (!ending.exited) script_->signal(SIGKILL);
}

Environment WaylandSession::environment() const { return environment_; }

namespace {

pid_t pidIn(const std::string& file) {
  std::ifstream in(file);
  pid_t pid = -1;
  if (!(in >> pid)) throw std::runtime_error("no process id in " + file);
  return pid;
}

}  // namespace

std::string WaylandSession::pipewireObjects() const { return output({"pw-dump"}, environment_); }

pid_t WaylandSession::pipewire() const { return pidIn(environment_.at("XDG_RUNTIME_DIR") + "/pipewire.pid"); }
pid_t WaylandSession::portal() const {
  auto found = output({"pgrep", "-s", std::to_string(getsid(compositor_)), "-f", "^/usr/libexec/xdg-desktop-portal$"},
                      environment_);
  return pid_t(std::stol(found));
}

pid_t WaylandSession::portalBackend() const { return pidIn(environment_.at("XDG_RUNTIME_DIR") + "/portal.pid"); }

void WaylandSession::chooserAnswers(const std::string& answer) const {
  std::ofstream(environment_.at("XDG_RUNTIME_DIR") + "/chooser-answer") << (answer.empty() ? "" : answer + "\n");
}

int WaylandSession::chooserRuns() const {
  std::ifstream in(environment_.at("XDG_RUNTIME_DIR") + "/chooser-runs");
  int runs = 0;
  for (std::string line; std::getline(in, line);) runs++;
  return runs;
}

void WaylandSession::sway(const std::string& command) const {
  auto answer = nlohmann::json::parse(output({"swaymsg", "-r", command}, environment_));
  for (auto& result : answer)
    if (!result.value("success", false)) throw std::runtime_error("sway refused \"" + command + "\": " + answer.dump());
}

nlohmann::json WaylandSession::ask(const std::string& type) const {
  return nlohmann::json::parse(output({"swaymsg", "-r", "-t", type}, environment_));
}

void WaylandWindow::tell(const std::string& line) {
  std::string sent = line + "\n";
  if (write(process->in(), sent.data(), sent.size()) != ssize_t(sent.size())) throw std::runtime_error("wayland-paint is gone");
  auto answer = process->readLine();
  if (answer != "ok") throw std::runtime_error("wayland-paint did not answer \"" + line + "\"");
}

NestedSway::NestedSway(const WaylandSession& parent) : parent_(parent) {
  auto runtime = parent.environment().at("XDG_RUNTIME_DIR");
  config_ = runtime + "/nested-config";
  std::string announced = runtime + "/nested-display";
  std::filesystem::remove(announced);
  std::ofstream(config_) << "xwayland disable\nexec echo $WAYLAND_DISPLAY >" << announced << ".new && mv "
                         << announced << ".new " << announced << "\n";
  std::vector<std::string> command{"env",
                                   "XDG_RUNTIME_DIR=" + runtime,
                                   "WAYLAND_DISPLAY=" + parent.environment().at("WAYLAND_DISPLAY"),
                                   "HOME=" + runtime,
                                   "WLR_BACKENDS=wayland",
                                   "WLR_RENDERER=pixman",
                                   "WLR_WL_OUTPUTS=2",
                                   "WLR_LIBINPUT_NO_DEVICES=1",
                                   "sway",
                                   "-c",
                                   config_};
  if (geteuid() == 0) command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  sway_ = std::make_unique<Child>(command);
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(announced)) {
    if (Clock::now() > deadline) throw std::runtime_error("nested sway did not start: " + sway_->waitErr("", std::chrono::milliseconds(100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string display;
  std::ifstream(announced) >> display;
  environment_ = {{"XDG_RUNTIME_DIR", runtime}, {"WAYLAND_DISPLAY", display}, {"DISPLAY", ""}};
}

NestedSway::~NestedSway() {
  sway_->signal(SIGTERM);
  sway_->wait();
  std::filesystem::remove(config_);
}

void NestedSway::unplug(const std::string& name) { parent_.sway("[title=\"- " + name + "$\"] kill"); }

namespace {

// The rectangle sway gives the window of `name`, or none yet.
std::optional<std::array<int, 4>> placeOf(const nlohmann::json& node, const std::string& name) {
  if (node.value("app_id", nlohmann::json()).is_string() && node["app_id"] == name) {
    auto& r = node["rect"];
    return std::array<int, 4>{r["x"].get<int>(), r["y"].get<int>(), r["width"].get<int>(), r["height"].get<int>()};
  }
  for (auto* children : {"nodes", "floating_nodes"})
    if (node.contains(children))
      for (auto& child : node[children])
        if (auto found = placeOf(child, name)) return found;
  return std::nullopt;
}

}  // namespace

WaylandWindow paintWayland(const WaylandSession& session, int x, int y, int width, int height, uint32_t rgb,
                           const std::string& name) {
  char color[8];
  snprintf(color, sizeof color, "%06x", rgb & 0xffffff);
  WaylandWindow window;
  window.process = std::make_unique<Child>(
      std::vector<std::string>{WAYLAND_PAINT, std::to_string(width), std::to_string(height), color, name},
      session.environment());
  if (window.process->readLine() != "ready") throw std::runtime_error("wayland-paint did not start");
  std::string criteria = "[app_id=\"^" + name + "$\"] ";
  session.sway(criteria + "move absolute position " + std::to_string(x) + " " + std::to_string(y));
  std::array<int, 4> wanted{x, y, width, height};
  auto deadline = Clock::now() + std::chrono::seconds(10);
  for (std::optional<std::array<int, 4>> place; (place = placeOf(session.ask("get_tree"), name)) != wanted;) {
    if (Clock::now() > deadline) {
      std::string seen = place ? std::to_string((*place)[0]) + "," + std::to_string((*place)[1]) + " " +
                                     std::to_string((*place)[2]) + "x" + std::to_string((*place)[3])
                               : "nowhere";
      throw std::runtime_error("sway did not place " + name + " (it is " + seen + ")");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return window;
}

}  // namespace e2e
