#include "text/line_reader.h"

#include <unistd.h>

#include <cerrno>

#include "text/unicode.h"

std::optional<std::string> LineReader::next() {
  for (;;) {
    size_t end = buffer_.find('\n', scanned_);
    if (end != std::string::npos) {
      size_t length = end > 0 && buffer_[end - 1] == '\r' ? end - 1 : end;
      std::string line = replacingInvalidUtf8(std::string_view(buffer_).substr(0, length));
      buffer_.erase(0, end + 1);
      scanned_ = 0;
      return line;
    }
    scanned_ = buffer_.size();
    if (ended_) {
      if (buffer_.empty()) return std::nullopt;
      std::string line = replacingInvalidUtf8(buffer_);
      buffer_.clear();
      scanned_ = 0;
      return line;
    }
    char chunk[65536];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n > 0)
      buffer_.append(chunk, size_t(n));
    else if (n == 0 || errno != EINTR)
      ended_ = true;
  }
}
