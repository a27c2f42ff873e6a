#include "platform/x11/connection.h"

#include <fcntl.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/render.h>
#include <xcb/res.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <cstring>
#include <mutex>

namespace platform::x11 {

namespace {

// Runs xcb_connect with standard error caught: libxcb writes a refusing
// server's reason there. Anything else caught is passed on.
xcb_connection_t* connectQuietly(const char* name, int* screen, std::string& caught) {
  static std::mutex stderrLock;
  std::lock_guard lock(stderrLock);
  int pipeEnds[2];
  int saved = dup(STDERR_FILENO);
  if (saved < 0 || pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (saved >= 0) close(saved);
    return xcb_connect(name, screen);
  }
  dup2(pipeEnds[1], STDERR_FILENO);
  close(pipeEnds[1]);
  xcb_connection_t* c = xcb_connect(name, screen);
  dup2(saved, STDERR_FILENO);
  close(saved);
  char chunk[4096];
  ssize_t n;
  while ((n = read(pipeEnds[0], chunk, sizeof chunk)) > 0) caught.append(chunk, size_t(n));
  close(pipeEnds[0]);
  if (!xcb_connection_has_error(c) && !caught.empty()) {
    ssize_t ignored = write(STDERR_FILENO, caught.data(), caught.size());
    (void)ignored;
    caught.clear();
  }
  return c;
}

}  // namespace

Connection::Connection(const std::string& display, bool quiet) {
  const char* named = display.empty() ? getenv("DISPLAY") : display.c_str();
  display_ = named ? named : "";
  int screenNumber = 0;
  std::string caught;
  const char* name = display.empty() ? nullptr : display.c_str();
  c_ = quiet ? connectQuietly(name, &screenNumber, caught) : xcb_connect(name, &screenNumber);
  int error = xcb_connection_has_error(c_);
  if (error) {
    if (display_.empty()) {
      const char* wayland = getenv("WAYLAND_DISPLAY");
      reason_ = wayland && *wayland
                    ? "this is a Wayland session without an X server (DISPLAY is not set)"
                    : "no X server: DISPLAY is not set";
    } else if (error == XCB_CONN_CLOSED_PARSE_ERR) {
      reason_ = "the display name is not valid";
    } else if (serverListens(display_)) {
      reach_ = Reach::refused;
      while (!caught.empty() && (caught.back() == '\n' || caught.back() == ' ')) caught.pop_back();
      reason_ = caught.empty() ? "it refused the connection" : caught;
    } else {
      reason_ = "no server answers";
    }
    xcb_disconnect(c_);
    c_ = nullptr;
    return;
  }
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(c_));
  for (int i = 0; roots.rem && i < screenNumber; i++) xcb_screen_next(&roots);
  if (!roots.rem) {
    reason_ = "the server has no screen " + std::to_string(screenNumber);
    xcb_disconnect(c_);
    c_ = nullptr;
    return;
  }
  screen_ = roots.data;
  reach_ = Reach::accepted;
  prepare();
}

Connection::~Connection() {
  if (c_) xcb_disconnect(c_);
}

Error Connection::failure() const {
  if (display_.empty() && reach_ == Reach::absent) return {failedToStart, reason_};
  std::string named = display_.empty() ? "" : " " + display_;
  switch (reach_) {
    case Reach::refused:
      return {userDeclined, "the X server" + named + " refused the connection (" + reason_ + ")"};
    case Reach::absent:
      return {failedToStart, "cannot connect to the X server" + named + " (" + reason_ + ")"};
    case Reach::accepted:
      break;
  }
  return {streamStopped, "the connection to the X server" + named + " broke"};
}

// Asks every extension's version in one round of requests. XFixes and Damage
// must be asked before their first use.
void Connection::prepare() {
  xcb_extension_t* wanted[] = {&xcb_randr_id,  &xcb_shm_id,    &xcb_composite_id, &xcb_damage_id,
                               &xcb_xfixes_id, &xcb_res_id,    &xcb_render_id};
  for (auto* e : wanted) xcb_prefetch_extension_data(c_, e);
  auto present = [&](xcb_extension_t* e) {
    auto* data = xcb_get_extension_data(c_, e);
    return data && data->present;
  };
  bool randr = present(&xcb_randr_id), shm = present(&xcb_shm_id), composite = present(&xcb_composite_id),
       damage = present(&xcb_damage_id), xfixes = present(&xcb_xfixes_id), res = present(&xcb_res_id),
       render = present(&xcb_render_id);
  has_.hidden = !(randr || shm || composite || damage || xfixes || res);

  const char* names[] = {"WM_STATE", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID", "_XROOTPMAP_ID",
                         "ESETROOT_PMAP_ID"};
  xcb_intern_atom_cookie_t atomCookies[6];
  for (int i = 0; i < 6; i++) atomCookies[i] = xcb_intern_atom(c_, 0, strlen(names[i]), names[i]);

  xcb_randr_query_version_cookie_t randrCookie{};
  xcb_shm_query_version_cookie_t shmCookie{};
  xcb_composite_query_version_cookie_t compositeCookie{};
  xcb_damage_query_version_cookie_t damageCookie{};
  xcb_xfixes_query_version_cookie_t xfixesCookie{};
  xcb_res_query_version_cookie_t resCookie{};
  xcb_render_query_version_cookie_t renderCookie{};
  if (randr) randrCookie = xcb_randr_query_version(c_, 1, 5);
  if (shm) shmCookie = xcb_shm_query_version(c_);
  if (composite) compositeCookie = xcb_composite_query_version(c_, 0, 4);
  if (damage) damageCookie = xcb_damage_query_version(c_, 1, 1);
  if (xfixes) xfixesCookie = xcb_xfixes_query_version(c_, 5, 0);
  if (res) resCookie = xcb_res_query_version(c_, 1, 2);
  if (render) renderCookie = xcb_render_query_version(c_, 0, 11);

  xcb_atom_t* atomSlots[] = {&atoms_.wmState,  &atoms_.netWmName,  &atoms_.utf8String,
                             &atoms_.netWmPid, &atoms_.rootPixmap, &atoms_.esetrootPixmap};
  for (int i = 0; i < 6; i++) {
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(c_, atomCookies[i], nullptr));
    *atomSlots[i] = atom ? atom->atom : XCB_NONE;
  }
  if (randr) {
    Reply<xcb_randr_query_version_reply_t> v(xcb_randr_query_version_reply(c_, randrCookie, nullptr));
    if (v) {
      has_.randrCrtcs = v->major_version > 1 || v->minor_version >= 2;
      has_.randrMonitors = v->major_version > 1 || v->minor_version >= 5;
    }
  }
  if (shm) {
    Reply<xcb_shm_query_version_reply_t> v(xcb_shm_query_version_reply(c_, shmCookie, nullptr));
    has_.shm = v != nullptr;
    has_.shmPixmaps = v && v->shared_pixmaps && v->pixmap_format == XCB_IMAGE_FORMAT_Z_PIXMAP;
  }
  if (composite) {
    Reply<xcb_composite_query_version_reply_t> v(xcb_composite_query_version_reply(c_, compositeCookie, nullptr));
    has_.composite = v && (v->major_version > 0 || v->minor_version >= 2);  // NameWindowPixmap
  }
  if (damage) {
    Reply<xcb_damage_query_version_reply_t> v(xcb_damage_query_version_reply(c_, damageCookie, nullptr));
    has_.damage = v != nullptr;
    has_.damageEvent = xcb_get_extension_data(c_, &xcb_damage_id)->first_event;
  }
  if (xfixes) {
    Reply<xcb_xfixes_query_version_reply_t> v(xcb_xfixes_query_version_reply(c_, xfixesCookie, nullptr));
    has_.xfixes = v && v->major_version >= 1;
  }
  if (res) {
    Reply<xcb_res_query_version_reply_t> v(xcb_res_query_version_reply(c_, resCookie, nullptr));
    has_.res = v && (v->server_major > 1 || v->server_minor >= 2);
  }
  if (render) {
    Reply<xcb_render_query_version_reply_t> v(xcb_render_query_version_reply(c_, renderCookie, nullptr));
    has_.render = v != nullptr;
  }
}

}  // namespace platform::x11
