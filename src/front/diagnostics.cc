#include "front/diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

void writeLine(std::string_view message) {
  std::string line = "pellix-capture: ";
  line.append(message);
  line.push_back('\n');
  // One write; when standard error is gone the line is lost, nothing more.
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

}  // namespace

void say(bool verbose, std::string_view message) {
  if (verbose) writeLine(message);
}

void fail(int32_t code, std::string_view message) {
  writeLine(message);
  _exit(code);
}

void writeAll(int fd, const void* bytes, size_t size) {
  auto* p = static_cast<const char*>(bytes);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(0);
    p += n;
    size -= size_t(n);
  }
}

std::string quotedList(const std::vector<std::string>& names) {
  std::string list = "[";
  for (size_t i = 0; i < names.size(); i++) {
    if (i > 0) list += ", ";
    list += '"';
    for (unsigned char c : names[i]) {
      switch (c) {
        case '"': list += "\\\""; break;
        case '\\': list += "\\\\"; break;
        case '\n': list += "\\n"; break;
        case '\r': list += "\\r"; break;
        case '\t': list += "\\t"; break;
        case '\0': list += "\\0"; break;
        default:
          if (c < 0x20 || c == 0x7f) {
            char escaped[12];
            snprintf(escaped, sizeof escaped, "\\u{%x}", c);
            list += escaped;
          } else {
            list += char(c);
          }
      }
    }
    list += '"';
  }
  return list + "]";
}
