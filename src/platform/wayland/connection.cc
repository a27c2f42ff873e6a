#include "platform/wayland/connection.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "wlr-screencopy-unstable-v1-client.h"
#include "xdg-output-unstable-v1-client.h"

namespace platform::wayland {

std::string socketName() {
  const char* name = getenv("WAYLAND_DISPLAY");
  return name && *name ? name : "wayland-0";
}

struct Connection::Output {
  wl_output* proxy = nullptr;
  zxdg_output_v1* xdg = nullptr;
  uint32_t version = 0;
  OutputState state;
  bool described = false;  // the first `done` came

  ~Output() {
    if (xdg) zxdg_output_v1_destroy(xdg);
    if (version >= WL_OUTPUT_RELEASE_SINCE_VERSION)
      wl_output_release(proxy);
    else
      wl_output_destroy(proxy);
  }
};

struct Connection::Listeners {
  static void geometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                       const char*, int32_t transform) {
    auto& s = static_cast<Output*>(data)->state;
    s.x = x;
    s.y = y;
    s.transform = transform;
  }
  static void mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    auto& s = static_cast<Output*>(data)->state;
    s.modeWidth = width;
    s.modeHeight = height;
  }
  static void done(void* data, wl_output*) { static_cast<Output*>(data)->described = true; }
  static void scale(void* data, wl_output*, int32_t factor) { static_cast<Output*>(data)->state.scale = factor; }
  static void name(void* data, wl_output*, const char* name) { static_cast<Output*>(data)->state.name = name; }
  static void description(void*, wl_output*, const char*) {}

  static void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto& s = static_cast<Output*>(data)->state;
    Box box = s.logical.value_or(Box{});
    s.logical = Box{x, y, box.width, box.height};
  }
  static void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto& s = static_cast<Output*>(data)->state;
    Box box = s.logical.value_or(Box{});
    s.logical = Box{box.x, box.y, width, height};
  }
  static void xdgDone(void*, zxdg_output_v1*) {}
  static void xdgName(void* data, zxdg_output_v1*, const char* name) {
    auto& s = static_cast<Output*>(data)->state;
    if (s.name.empty()) s.name = name;
  }
  static void xdgDescription(void*, zxdg_output_v1*, const char*) {}

  static constexpr wl_output_listener output{geometry, mode, done, scale, name, description};
  static constexpr zxdg_output_v1_listener xdgOutput{logicalPosition, logicalSize, xdgDone, xdgName,
                                                     xdgDescription};

  static void describe(Connection& c, Output& o) {
    if (o.xdg || !c.xdgOutputs_) return;
    o.xdg = zxdg_output_manager_v1_get_xdg_output(c.xdgOutputs_, o.proxy);
    zxdg_output_v1_add_listener(o.xdg, &xdgOutput, &o);
  }

  static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto& c = *static_cast<Connection*>(data);
    std::string_view what = interface;
    if (what == wl_shm_interface.name) {
      c.shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (what == zxdg_output_manager_v1_interface.name) {
      c.xdgOutputs_ = static_cast<zxdg_output_manager_v1*>(
          wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
      for (auto& o : c.outputs_) describe(c, *o);
    } else if (what == zwlr_screencopy_manager_v1_interface.name && version >= 2) {
      c.screencopy_ = static_cast<zwlr_screencopy_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, std::min(version, 3u)));
    } else if (what == wl_output_interface.name) {
      auto o = std::make_unique<Output>();
      o->version = std::min(version, 4u);
      o->state.global = name;
      o->proxy = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, o->version));
      wl_output_add_listener(o->proxy, &output, o.get());
      describe(c, *o);
      c.outputs_.push_back(std::move(o));
    }
  }

  static void globalRemove(void* data, wl_registry*, uint32_t name) {
    auto& outputs = static_cast<Connection*>(data)->outputs_;
    std::erase_if(outputs, [name](auto& o) { return o->state.global == name; });
  }

  static constexpr wl_registry_listener registry{global, globalRemove};
};

namespace {

// libwayland's own complaints would land on our standard error: the
// failures it reports come back through failure() instead.
void quiet(const char*, va_list) {}

}  // namespace

Connection::Connection() {
  static std::once_flag silenced;
  std::call_once(silenced, [] { wl_log_set_handler_client(quiet); });
  display_ = wl_display_connect(socketName().c_str());
  if (!display_)
    throw Error{failedToStart, "no Wayland compositor answers at " + socketName() + " (" + strerror(errno) + ")"};
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &Listeners::registry, this);
  // The globals, then what each output and xdg-output says of itself.
  if (!roundtrip() || !roundtrip()) throw failure();
  for (auto& o : outputs_)
    if (o->version < 2) o->described = true;  // no `done` before version 2
}

Connection::~Connection() {
  outputs_.clear();
  if (screencopy_) zwlr_screencopy_manager_v1_destroy(screencopy_);
  if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
  if (shm_) wl_shm_destroy(shm_);
  if (registry_) wl_registry_destroy(registry_);
  if (display_) wl_display_disconnect(display_);
}

std::vector<OutputState> Connection::outputs() const {
  std::vector<OutputState> described;
  for (auto& o : outputs_)
    if (o->described) described.push_back(o->state);
  return described;
}

Connection::Output* Connection::find(uint32_t displayID) const {
  for (auto& o : outputs_)
    if (o->described && wayland::displayID(o->state) == displayID) return o.get();
  return nullptr;
}

wl_output* Connection::output(uint32_t displayID) const {
  auto* o = find(displayID);
  return o ? o->proxy : nullptr;
}

std::optional<OutputState> Connection::state(uint32_t displayID) const {
  auto* o = find(displayID);
  if (!o) return std::nullopt;
  return o->state;
}

bool Connection::dispatch(const std::function<bool()>& done, std::optional<Clock::time_point> deadline, int wake) {
  for (;;) {
    if (wl_display_dispatch_pending(display_) < 0) return false;
    if (done()) return true;
    if (wl_display_prepare_read(display_) != 0) continue;  // events came meanwhile
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display_);
      return false;
    }
    int timeout = -1;
    if (deadline) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      timeout = int(std::clamp<int64_t>(left, 0, 1'000'000));
    }
    pollfd fds[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {wake, POLLIN, 0}};
    int ready = poll(fds, wake >= 0 ? 2 : 1, timeout);
    if (ready > 0 && fds[0].revents) {
      if (wl_display_read_events(display_) < 0) return false;
    } else {
      wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0) return false;
    if (done()) return true;
    if (wake >= 0 && fds[1].revents) return true;
    if (deadline && Clock::now() >= *deadline) return true;
  }
}

bool Connection::roundtrip() { return wl_display_roundtrip(display_) >= 0; }

Error Connection::failure() const {
  int error = wl_display_get_error(display_);
  if (error == EPROTO) {
    const wl_interface* interface = nullptr;
    uint32_t id = 0;
    uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
    return {streamStopped, "the Wayland compositor at " + socketName() + " ended the connection (protocol error " +
                               std::to_string(code) + " on " + (interface ? interface->name : "an object") + ")"};
  }
  return {streamStopped, "the connection to the Wayland compositor at " + socketName() + " broke (" +
                             strerror(error ? error : EPIPE) + ")"};
}

}  // namespace platform::wayland
