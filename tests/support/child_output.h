#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/captured.h"

// What a death test's child writes to `fd`. The child runs the test again
// from its start, so what it writes goes into a file named after the test,
// which the parent reads once the child has ended.
class ChildOutput {
 public:
  explicit ChildOutput(int fd = STDOUT_FILENO) : fd_(fd) {
    auto* test = testing::UnitTest::GetInstance()->current_test_info();
    path_ = testing::TempDir() + "pellix-" + test->test_suite_name() + "." + test->name() + "." + std::to_string(fd);
  }
  ~ChildOutput() { std::remove(path_.c_str()); }
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  // In the child: sends `fd` into the file, emptied. What stdio holds for
  // the descriptor so far (the test runner's greeting) goes where it was bound.
  void redirect() const {
    fflush(fd_ == STDERR_FILENO ? stderr : stdout);
    int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0 || dup2(file, fd_) < 0) abort();
    close(file);
  }
  // In the parent, once the child has ended.
  std::string text() const {
    int file = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    std::string written = file < 0 ? "" : Captured::text(file);
    if (file >= 0) close(file);
    return written;
  }

 private:
  int fd_;
  std::string path_;
};
