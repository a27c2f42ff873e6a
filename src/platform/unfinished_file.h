// A file written beside its final place and renamed there once whole, so that
// a reader of the final path sees the old file or the whole new one. Files not
// yet renamed are known process-wide: when SIGTERM ends the process they are
// removed, and nothing is left beside the target.
#pragma once

#include <string>

namespace platform {

class UnfinishedFile {
 public:
  // A new empty file in the folder of `target`, named ".<name>.XXXXXX", with
  // the permissions a new file gets (0666 less the umask).
  explicit UnfinishedFile(std::string target);
  // Removes the file unless it was finished.
  ~UnfinishedFile();
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;

  // Open for writing; -1 when the file could not be made. The caller closes it.
  int fd() const { return fd_; }
  // Renames the file to the target; false when that fails.
  bool finish();

 private:
  std::string target_, path_;
  int fd_ = -1;
  bool finished_ = false;
};

// Removes every unfinished file and holds off any new one or any rename: the
// process ends right after. Called on the thread that ends the process.
void removeUnfinishedFiles();

}  // namespace platform
