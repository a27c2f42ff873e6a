#include "platform/unfinished_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// Guards the list, and with it the moments a file appears and is renamed: the
// ending process takes it for good.
std::mutex& unfinishedLock() {
  static std::mutex lock;
  return lock;
}
std::vector<std::string>& unfinished() {
  static std::vector<std::string> paths;
  return paths;
}

}  // namespace

UnfinishedFile::UnfinishedFile(std::string target) : target_(std::move(target)) {
  std::filesystem::path place(target_);
  std::filesystem::path folder = place.has_parent_path() ? place.parent_path() : ".";
  path_ = (folder / ("." + place.filename().string() + ".XXXXXX")).string();
  std::lock_guard guard(unfinishedLock());
  fd_ = mkstemp(path_.data());
  if (fd_ < 0) return;
  unfinished().push_back(path_);
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

UnfinishedFile::~UnfinishedFile() {
  if (fd_ < 0 || finished_) return;
  std::lock_guard guard(unfinishedLock());
  unlink(path_.c_str());
  std::erase(unfinished(), path_);
}

bool UnfinishedFile::finish() {
  if (fd_ < 0) return false;
  std::lock_guard guard(unfinishedLock());
  if (rename(path_.c_str(), target_.c_str()) != 0) return false;
  finished_ = true;
  std::erase(unfinished(), path_);
  return true;
}

void removeUnfinishedFiles() {
  unfinishedLock().lock();  // never released: the process is ending
  for (auto& path : unfinished()) unlink(path.c_str());
}

}  // namespace platform
