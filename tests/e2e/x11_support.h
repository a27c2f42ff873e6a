// Helpers of the X11 backend's tests: a connection of the test's own, and
// pointing the backend at a test server.
#pragma once

#include <stdlib.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "harness.h"
#include "platform/x11/x11_capture.h"

namespace x11test {

// The backend on `server`: it reads $DISPLAY when it first connects.
inline std::unique_ptr<platform::X11Capture> captureOn(const e2e::Xvfb& server) {
  setenv("DISPLAY", server.display().c_str(), 1);
  return std::make_unique<platform::X11Capture>();
}

// The test's own connection, to look at the server and move the pointer.
class Client {
 public:
  explicit Client(const e2e::Xvfb& server) : c_(xcb_connect(server.display().c_str(), nullptr)) {
    if (xcb_connection_has_error(c_)) throw std::runtime_error("cannot connect to " + server.display());
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
  }
  ~Client() { xcb_disconnect(c_); }
  xcb_connection_t* get() const { return c_; }
  xcb_window_t root() const { return root_; }

  xcb_atom_t atom(const std::string& name) {
    auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, name.size(), name.c_str()), nullptr);
    xcb_atom_t a = r ? r->atom : XCB_NONE;
    free(r);
    return a;
  }

  // Moves the pointer to (x, y) of the root, and waits until the server did.
  void pointTo(int x, int y) {
    xcb_warp_pointer(c_, XCB_NONE, root_, 0, 0, 0, 0, int16_t(x), int16_t(y));
    free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
  }

  // Where `window`'s origin (inside its border) is on the root.
  std::pair<int, int> origin(xcb_window_t window) {
    auto* r = xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, window, root_, 0, 0), nullptr);
    std::pair<int, int> at{r ? r->dst_x : -1, r ? r->dst_y : -1};
    free(r);
    return at;
  }

  // The RandR output of the server's first monitor.
  uint32_t firstOutput() {
    auto* r = xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, root_, 1), nullptr);
    uint32_t output = 0;
    if (r) {
      auto it = xcb_randr_get_monitors_monitors_iterator(r);
      if (it.rem && it.data->nOutput) output = xcb_randr_monitor_info_outputs(it.data)[0];
    }
    free(r);
    return output;
  }

  bool hasProperty(xcb_window_t window, xcb_atom_t property) {
    auto* r = xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, property, XCB_ATOM_ANY, 0, 1), nullptr);
    bool has = r && r->type != XCB_NONE;
    free(r);
    return has;
  }

 private:
  xcb_connection_t* c_;
  xcb_window_t root_;
};

inline bool installed(const std::string& program) {
  std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    if (access((path.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Runs `command` (a program and its arguments) against `server` to its end,
// which must be a success.
inline void runOn(const e2e::Xvfb& server, const std::vector<std::string>& command) {
  e2e::Child child(command, server.environment());
  child.closeIn();
  auto ending = child.wait(std::chrono::seconds(30));
  if (!ending.exited || ending.code != 0) throw std::runtime_error(command[0] + " failed: " + ending.err);
}

// Sends one command line to a painter and waits for its "ok".
inline void tell(e2e::PaintedWindow& painter, const std::string& line) {
  std::string text = line + "\n";
  if (write(painter.process->in(), text.data(), text.size()) != ssize_t(text.size()))
    throw std::runtime_error("paint-window is gone");
  auto answer = painter.process->readLine();
  if (!answer || *answer != "ok") throw std::runtime_error("paint-window did not do " + line);
}

}  // namespace x11test
