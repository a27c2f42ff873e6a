#include "front/diagnostics.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>

namespace {

void writeLine(std::string_view message) {
  // One write of the three pieces, with nothing allocated: the line must get
  // out when memory has run out too. When standard error is gone the line is
  // lost, nothing more.
  char prefix[] = "pellix-capture: ", end[] = "\n";
  iovec pieces[] = {{prefix, sizeof prefix - 1}, {const_cast<char*>(message.data()), message.size()}, {end, 1}};
  ssize_t ignored = writev(STDERR_FILENO, pieces, 3);
  (void)ignored;
}

[[noreturn]] void failOnTerminate() {
  std::string_view what = "an unknown failure";
  if (auto escaped = std::current_exception()) {
    try {
      std::rethrow_exception(escaped);
    } catch (const std::exception& failure) {
      what = describeFailure(failure);
    } catch (...) {
    }
  }
  fail(2, what);
}

}  // namespace

void say(bool verbose, std::string_view message) {
  if (verbose) writeLine(message);
}

void fail(int32_t code, std::string_view message) {
  writeLine(message);
  _exit(code);
}

std::string_view describeFailure(const std::exception& failure) {
  if (dynamic_cast<const std::bad_alloc*>(&failure)) return "out of memory";
  return failure.what();
}

void failOnEscapedExceptions() { std::set_terminate(failOnTerminate); }

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
