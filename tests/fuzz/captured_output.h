// Standard output turned into a memory file, so a fuzz target can read back
// what the code under test wrote there.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class CapturedOutput {
 public:
  CapturedOutput() {
    int fd = memfd_create("stdout", 0);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) abort();
    close(fd);
  }

  size_t size() const {
    struct stat status {};
    fstat(STDOUT_FILENO, &status);
    return size_t(status.st_size);
  }

  // Everything written since the last take, emptied.
  std::string take() {
    std::string text(size(), '\0');
    if (pread(STDOUT_FILENO, text.data(), text.size(), 0) != ssize_t(text.size())) abort();
    clear();
    return text;
  }

  void clear() {
    if (ftruncate(STDOUT_FILENO, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0) abort();
  }
};
