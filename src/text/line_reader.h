// Lines of a file descriptor, read as the requests of the service come.
#pragma once

#include <optional>
#include <string>

class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line without its line feed or carriage return and line feed,
  // with ill-formed UTF-8 replaced by U+FFFD. A last line without a line feed
  // still counts; nothing at the end of input (or when reading fails).
  std::optional<std::string> next();

 private:
  int fd_;
  std::string buffer_;
  size_t scanned_ = 0;  // bytes of buffer_ known to hold no line feed
  bool ended_ = false;
};
