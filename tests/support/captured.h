// Runs a piece of code with standard output or error going into a pipe, and
// returns what it wrote there.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

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
