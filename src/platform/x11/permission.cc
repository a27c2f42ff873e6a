// Telling a server that refuses us from no server at all: libxcb reports both
// alike, so knock on the display's socket ourselves.
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/x11/connection.h"

namespace platform::x11 {

namespace {

bool connectsUnix(const std::string& path, bool abstract) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
  size_t length = std::min(path.size(), sizeof address.sun_path - 1 - offset);
  memcpy(address.sun_path + offset, path.data(), length);
  auto size = socklen_t(offsetof(sockaddr_un, sun_path) + offset + length + (abstract ? 0 : 1));
  bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), size) == 0;
  close(fd);
  return up;
}

// Connects to host:port without waiting more than a second per address.
bool connectsTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool up = false;
  for (addrinfo* a = found; a && !up; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
      up = true;
    } else if (errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      up = poll(&p, 1, 1000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    close(fd);
  }
  freeaddrinfo(found);
  return up;
}

}  // namespace

bool serverListens(const std::string& display) {
  char* host = nullptr;
  int number = 0, screen = 0;
  if (!xcb_parse_display(display.c_str(), &host, &number, &screen)) return false;
  std::string hostName = host ? host : "";
  free(host);
  if (hostName.empty() || hostName == "unix") {
    std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
    return connectsUnix(path, true) || connectsUnix(path, false);
  }
  if (hostName[0] == '/') return connectsUnix(hostName, false);  // a socket path of its own
  return connectsTcp(hostName, 6000 + number);
}

}  // namespace platform::x11
