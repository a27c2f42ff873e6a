// One connection to the X server, with the extensions and atoms the backend
// uses. A Connection is made whole or not at all: a failed connection says
// whether a server refused us or none answered. XCB is thread-safe, so one
// Connection may be used from several threads at once.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/error.h"

namespace platform::x11 {

// Whether the X server let us in.
enum class Reach { accepted, refused, absent };

// Frees an XCB reply.
struct FreeReply {
  void operator()(void* p) const { free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

class Connection {
 public:
  // Connects to the server that `display` names (":5", "host:0"); empty means
  // $DISPLAY. With `quiet`, the server's refusal text that libxcb writes on
  // standard error is caught and kept in `failure()` instead (the caller must
  // be the only thread writing there at that moment).
  Connection(const std::string& display, bool quiet);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Reach reach() const { return reach_; }
  // Why the connection failed or broke, in words for people; with the code
  // a capture error carries (userDeclined for a refusal).
  Error failure() const;
  // The display as named to people (":5"), empty when $DISPLAY is unset.
  const std::string& display() const { return display_; }
  bool broken() const { return !c_ || xcb_connection_has_error(c_); }

  xcb_connection_t* xcb() const { return c_; }
  xcb_screen_t* screen() const { return screen_; }
  xcb_window_t root() const { return screen_ ? screen_->root : XCB_NONE; }
  // The bits of an X id that name its client.
  uint32_t clientBits() const { return ~xcb_get_setup(c_)->resource_id_mask; }

  // Extensions, each usable only when true (their versions are asked at
  // connection, as XFixes and Damage require).
  struct Extensions {
    bool randrMonitors = false;  // RandR 1.5
    bool randrCrtcs = false;     // RandR 1.2
    bool shm = false;
    bool shmPixmaps = false;  // pixmaps whose pixels are a shared segment
    bool composite = false;
    bool damage = false;
    bool xfixes = false;  // 4.0, cursor images
    bool res = false;     // 1.2, client ids
    bool render = false;
    uint8_t damageEvent = 0;
    // None of them is visible: the X security extension hides them from an
    // untrusted client.
    bool hidden = false;
  };
  const Extensions& has() const { return has_; }

  struct Atoms {
    xcb_atom_t wmState, netWmName, utf8String, netWmPid, rootPixmap, esetrootPixmap;
  };
  const Atoms& atoms() const { return atoms_; }

 private:
  void prepare();

  xcb_connection_t* c_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
  std::string display_;
  Reach reach_ = Reach::absent;
  std::string reason_;  // the server's refusal, or why none answered
  Extensions has_;
  Atoms atoms_{};
};

// Whether something listens on the socket of `display` (":N": the abstract
// socket @/tmp/.X11-unix/XN, then that path; "host:N": TCP port 6000 + N).
// It tells a refusing server from none when xcb_connect fails.
bool serverListens(const std::string& display);

}  // namespace platform::x11
