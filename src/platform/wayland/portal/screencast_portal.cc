#include "platform/wayland/portal/screencast_portal.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "platform/wayland/portal/cursor_mode.h"

namespace platform::wayland::portal {

namespace {

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* screencast = "org.freedesktop.portal.ScreenCast";
constexpr uint32_t monitor = 1;
constexpr uint32_t persistUntilRevoked = 2;

std::string described(int result) { return strerror(result < 0 ? -result : result); }

Error busFailure(const std::string& what, int result, const sd_bus_error* error = nullptr) {
  std::string why = error && sd_bus_error_is_set(error) ? std::string(error->message ? error->message : error->name)
                                                        : described(result);
  return {failedToStart, "the desktop's screencast portal " + what + " (" + why + ")"};
}

// Reads the a{sv} at the message's position, handing each key to `read`,
// which reads the value or answers false to have it skipped.
int readDictionary(sd_bus_message* m, const std::function<bool(const std::string&)>& read) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    if (!read(key) && (r = sd_bus_message_skip(m, "v")) < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

int readStreams(sd_bus_message* m, std::vector<SharedStream>& streams) {
  int r = sd_bus_message_enter_container(m, 'v', "a(ua{sv})");
  if (r < 0) return r;
  if ((r = sd_bus_message_enter_container(m, 'a', "(ua{sv})")) < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'r', "ua{sv}")) > 0) {
    SharedStream stream;
    if ((r = sd_bus_message_read(m, "u", &stream.node)) < 0) return r;
    r = readDictionary(m, [&](const std::string& key) {
      int32_t a = 0, b = 0;
      if (key == "position" && sd_bus_message_read(m, "v", "(ii)", &a, &b) >= 0) {
        stream.x = a, stream.y = b;
        return true;
      }
      if (key == "size" && sd_bus_message_read(m, "v", "(ii)", &a, &b) >= 0) {
        stream.width = a, stream.height = b;
        return true;
      }
      return false;
    });
    if (r < 0) return r;
    streams.push_back(stream);
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  if ((r = sd_bus_message_exit_container(m)) < 0) return r;
  return sd_bus_message_exit_container(m);
}

}  // namespace

struct ScreencastPortal::Response {
  bool came = false;
  uint32_t code = 0;
  sd_bus_message* results = nullptr;
  ~Response() { sd_bus_message_unref(results); }

  static int arrived(sd_bus_message* m, void* data, sd_bus_error*) {
    auto& response = *static_cast<Response*>(data);
    if (response.came || sd_bus_message_read(m, "u", &response.code) < 0) return 0;
    response.came = true;
    response.results = sd_bus_message_ref(m);
    return 0;
  }
};

ScreencastPortal::ScreencastPortal() {
  int r = sd_bus_open_user(&bus_);
  if (r < 0) throw Error{failedToStart, "there is no session bus to reach the desktop's screencast portal (" + described(r) + ")"};
  const char* unique = nullptr;
  if ((r = sd_bus_get_unique_name(bus_, &unique)) < 0) throw busFailure("cannot be reached", r);
  // ":1.42" becomes "1_42" in the paths of our requests.
  for (const char* c = unique + 1; *c; c++) sender_ += *c == '.' ? '_' : *c;
  // A portal that goes away while asking would leave a request unanswered.
  r = sd_bus_match_signal(
      bus_, &vanished_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
      [](sd_bus_message* m, void* data, sd_bus_error*) {
        const char *name = nullptr, *before = nullptr, *after = nullptr;
        if (sd_bus_message_read(m, "sss", &name, &before, &after) >= 0 && std::string(name) == portalName &&
            after[0] == '\0')
          static_cast<ScreencastPortal*>(data)->gone_ = true;
        return 0;
      },
      this);
  if (r < 0) throw busFailure("cannot be watched", r);
}

ScreencastPortal::~ScreencastPortal() {
  close();
  sd_bus_slot_unref(closed_);
  sd_bus_slot_unref(vanished_);
  sd_bus_flush_close_unref(bus_);
}

uint32_t ScreencastPortal::property(const char* name) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t value = 0;
  int r = sd_bus_get_property_trivial(bus_, portalName, portalPath, screencast, name, &error, 'u', &value);
  sd_bus_error_free(&error);
  return r < 0 ? 0 : value;
}

std::shared_ptr<ScreencastPortal::Response> ScreencastPortal::ask(
    const char* method, const std::function<int(sd_bus_message*, const char*)>& append) {
  std::string token = "pellix" + std::to_string(getpid()) + "_" + std::to_string(++requests_);
  std::string request = std::string(portalPath) + "/request/" + sender_ + "/" + token;
  auto response = std::make_shared<Response>();
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_match_signal(bus_, &slot, nullptr, request.c_str(), "org.freedesktop.portal.Request", "Response",
                              Response::arrived, response.get());
  if (r < 0) throw busFailure(std::string("cannot be asked to ") + method, r);
  std::unique_ptr<sd_bus_slot, decltype(&sd_bus_slot_unref)> subscription(slot, sd_bus_slot_unref);

  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  r = sd_bus_message_new_method_call(bus_, &call, portalName, portalPath, screencast, method);
  if (r >= 0) r = append(call, token.c_str());
  if (r >= 0) r = sd_bus_call(bus_, call, 0, &error, &reply);
  sd_bus_message_unref(call);
  sd_bus_message_unref(reply);
  if (r < 0) {
    Error failure = busFailure(std::string("refused ") + method, r, &error);
    sd_bus_error_free(&error);
    throw failure;
  }
  // The user may take their time over a dialog: no deadline.
  while (!response->came) {
    if (gone_) throw Error{failedToStart, std::string("the desktop's screencast portal went away before it answered ") + method};
    r = sd_bus_process(bus_, nullptr);
    if (r > 0) continue;
    if (r >= 0) r = sd_bus_wait(bus_, UINT64_MAX);
    if (r < 0 && r != -EINTR) throw busFailure(std::string("did not answer ") + method, r);
  }
  if (response->code == 1)
    throw Error{userDeclined, std::string("the screen was not shared: the user declined the desktop's screencast "
                                          "portal (its answer to ") + method + ")"};
  if (response->code != 0)
    throw Error{failedToStart, std::string("the desktop's screencast portal answered ") + method +
                                   " with an error (response " + std::to_string(response->code) + ")"};
  return response;
}

Grant ScreencastPortal::start(bool cursorShown, const std::optional<std::string>& restoreToken) {
  uint32_t version = property("version");
  auto created = ask("CreateSession", [&](sd_bus_message* m, const char* token) {
    return sd_bus_message_append(m, "a{sv}", 2, "handle_token", "s", token, "session_handle_token", "s", token);
  });
  int r = readDictionary(created->results, [&](const std::string& key) {
    const char* handle = nullptr;
    if (key != "session_handle" || sd_bus_message_read(created->results, "v", "s", &handle) < 0) return false;
    session_ = handle;
    return true;
  });
  if (r < 0 || session_.empty()) throw busFailure("answered CreateSession without a session", r);
  // The desktop may end the session at any time: it says so with Closed.
  r = sd_bus_match_signal(
      bus_, &closed_, nullptr, session_.c_str(), "org.freedesktop.portal.Session", "Closed",
      [](sd_bus_message*, void* data, sd_bus_error*) {
        static_cast<ScreencastPortal*>(data)->ended_ = true;
        return 0;
      },
      this);
  if (r < 0) throw busFailure("cannot be watched", r);

  auto cursor = version >= 2 ? cursorMode(cursorShown, property("AvailableCursorModes")) : std::nullopt;
  bool persist = version >= 4;
  ask("SelectSources", [&](sd_bus_message* m, const char* token) {
    int r = sd_bus_message_append(m, "o", session_.c_str());
    if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "handle_token", "s", token);
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "types", "u", monitor);
    if (r >= 0) r = sd_bus_message_append(m, "{sv}", "multiple", "b", 0);
    if (r >= 0 && cursor) r = sd_bus_message_append(m, "{sv}", "cursor_mode", "u", *cursor);
    if (r >= 0 && persist) r = sd_bus_message_append(m, "{sv}", "persist_mode", "u", persistUntilRevoked);
    if (r >= 0 && persist && restoreToken)
      r = sd_bus_message_append(m, "{sv}", "restore_token", "s", restoreToken->c_str());
    if (r >= 0) r = sd_bus_message_close_container(m);
    return r;
  });

  auto started = ask("Start", [&](sd_bus_message* m, const char* token) {
    return sd_bus_message_append(m, "osa{sv}", session_.c_str(), "", 1, "handle_token", "s", token);
  });
  Grant grant;
  r = readDictionary(started->results, [&](const std::string& key) {
    if (key == "streams") return readStreams(started->results, grant.streams) >= 0;
    const char* token = nullptr;
    if (key == "restore_token" && sd_bus_message_read(started->results, "v", "s", &token) >= 0) {
      grant.restoreToken = token;
      return true;
    }
    return false;
  });
  if (r < 0) throw busFailure("answered Start with what it should not", r);
  if (grant.streams.empty()) throw Error{failedToStart, "the desktop's screencast portal started no stream"};
  return grant;
}

int ScreencastPortal::openPipeWireRemote() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus_, portalName, portalPath, screencast, "OpenPipeWireRemote", &error, &reply, "oa{sv}",
                             session_.c_str(), 0);
  int fd = -1;
  if (r >= 0) r = sd_bus_message_read(reply, "h", &fd);
  // The message owns its descriptor: ours is a copy.
  if (r >= 0 && (fd = fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) r = -errno;
  sd_bus_message_unref(reply);
  if (r < 0) {
    Error failure = busFailure("did not open PipeWire's remote", r, &error);
    sd_bus_error_free(&error);
    throw failure;
  }
  return fd;
}

int ScreencastPortal::fd() const { return sd_bus_get_fd(bus_); }

std::optional<Error> ScreencastPortal::process() {
  int r;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  if (ended_) return Error{streamStopped, "the desktop closed the screencast session"};
  if (gone_) return Error{streamStopped, "the desktop's screencast portal went away"};
  if (r < 0 && r != -EINTR)
    return Error{streamStopped, "the session bus, which holds the screencast session, went away (" + described(r) + ")"};
  return std::nullopt;
}

void ScreencastPortal::close() {
  if (session_.empty() || ended_) return;
  ended_ = true;
  sd_bus_call_method(bus_, portalName, session_.c_str(), "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                     "");
}

}  // namespace platform::wayland::portal
