// What the code under test writes to its standard output and error: the one
// way the unit tests and the fuzz targets read it (child_output.h for a death
// test's child). The end-to-end tests run the real binary as an e2e::Child,
// which owns the pipes of its outputs.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>

// While it lives, `fds` (standard output and error unless told otherwise)
// write into memory files: they take any amount with nobody reading, and can
// be read at any time. The old descriptors come back when it goes, or at
// `restore`.
class Captured {
 public:
  explicit Captured(std::initializer_list<int> fds = {STDOUT_FILENO, STDERR_FILENO}) {
    for (int fd : fds) {
      int file = memfd_create("captured", 0);
      int saved = dup(fd);
      if (file < 0 || saved < 0 || dup2(file, fd) < 0) abort();
      close(file);
      saved_[fd] = saved;
    }
  }
  ~Captured() { restore(); }
  Captured(const Captured&) = delete;
  Captured& operator=(const Captured&) = delete;

  // Puts the old descriptors back: in a death test's child, so that the
  // parent sees what it writes.
  void restore() {
    for (auto& [fd, saved] : saved_) {
      dup2(saved, fd);
      close(saved);
    }
    saved_.clear();
  }

  // Everything written to a captured `fd` so far.
  static std::string text(int fd) {
    std::string text;
    char chunk[65536];
    ssize_t n;
    for (off_t offset = 0; (n = pread(fd, chunk, sizeof chunk, offset)) > 0; offset += n) text.append(chunk, size_t(n));
    return text;
  }
  static size_t size(int fd) {
    struct stat status {};
    fstat(fd, &status);
    return size_t(status.st_size);
  }
  // Everything written to `fd` since it was last emptied; empties it.
  static std::string take(int fd) {
    std::string written = text(fd);
    clear(fd);
    return written;
  }
  static void clear(int fd) {
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) abort();
  }

 private:
  std::map<int, int> saved_;  // the old descriptor of each captured one
};

// Runs `body` with `fd` going into a pipe, as the parent program reads it (a
// frame is lent to a pipe, copied to anything else), and returns what it
// wrote there: up to a mebibyte, which the pipe holds unread.
template <typename Body>
std::string captured(int fd, Body body) {
  int saved = dup(fd);
  int ends[2];
  if (pipe(ends) != 0) return "pipe failed";
  fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);
  dup2(ends[1], fd);
  close(ends[1]);
  body();
  dup2(saved, fd);
  close(saved);
  std::string text;
  char chunk[65536];
  ssize_t n;
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  while ((n = read(ends[0], chunk, sizeof chunk)) > 0) text.append(chunk, size_t(n));
  close(ends[0]);
  return text;
}

// The writing end of a pipe whose reader has gone, as when the parent
// program stops reading: with SIGPIPE ignored, a write there fails (EPIPE).
inline int readerGone() {
  int ends[2];
  if (pipe(ends) != 0) abort();
  close(ends[0]);
  return ends[1];
}
