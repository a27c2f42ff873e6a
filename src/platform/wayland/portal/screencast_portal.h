// The desktop's ScreenCast portal (org.freedesktop.portal.ScreenCast) over the
// session bus, through sd-bus: one session that asks for one monitor, starts,
// and opens the PipeWire remote its stream lives on. Each call answers with a
// request whose Response signal carries the outcome; the signal is subscribed
// to before the call, so an answer cannot slip by. One thread at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/wayland/portal/stream_match.h"

struct sd_bus;
struct sd_bus_slot;
struct sd_bus_message;

namespace platform::wayland::portal {

struct Grant {
  std::vector<SharedStream> streams;
  std::optional<std::string> restoreToken;  // the next start's, when the portal keeps the choice
};

class ScreencastPortal {
 public:
  // Connects to the session bus. Throws Error (failedToStart).
  ScreencastPortal();
  // Closes the session, if one was started.
  ~ScreencastPortal();
  ScreencastPortal(const ScreencastPortal&) = delete;
  ScreencastPortal& operator=(const ScreencastPortal&) = delete;

  // CreateSession, SelectSources (one monitor, the pointer as `cursorShown`
  // asks where the portal offers that, kept with `restoreToken` if any, to be
  // kept again), Start. Throws Error: userDeclined when the user refused,
  // failedToStart when the portal failed.
  Grant start(bool cursorShown, const std::optional<std::string>& restoreToken);
  // The started session's PipeWire remote, a descriptor the caller owns. Throws Error.
  int openPipeWireRemote();

  // After the start: the bus's descriptor, to wait on, and what came on it.
  int fd() const;
  // Handles what came; why the session is over, if it is.
  std::optional<Error> process();
  // Ends the session (the portal stops its stream).
  void close();

 private:
  struct Response;
  // Calls `method` of the ScreenCast interface with a request of its own and
  // waits for the request's Response; its results, positioned at their a{sv}.
  std::shared_ptr<Response> ask(const char* method, const std::function<int(sd_bus_message*, const char*)>& append);
  uint32_t property(const char* name);

  sd_bus* bus_ = nullptr;
  std::string sender_;  // our unique name as request paths spell it
  std::string session_;
  sd_bus_slot* closed_ = nullptr;
  sd_bus_slot* vanished_ = nullptr;
  bool ended_ = false;  // the session is over
  bool gone_ = false;   // the portal left the bus
  unsigned requests_ = 0;
};

}  // namespace platform::wayland::portal
