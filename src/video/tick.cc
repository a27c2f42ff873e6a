#include "video/tick.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "front/diagnostics.h"

namespace {

constexpr int pipeSize = 1 << 20;

// Lending reads the pipe's direction from the descriptor: on a read-only one
// it would fill the frame from the pipe instead.
bool lendable(int fd) {
  struct stat out;
  if (fstat(fd, &out) != 0 || !S_ISFIFO(out.st_mode)) return false;
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace

Tick::Tick(std::shared_ptr<Frames> frames, int fd) : frames_(std::move(frames)), fd_(fd), lends_(lendable(fd)) {
  if (lends_ && fcntl(fd_, F_GETPIPE_SZ) < pipeSize) fcntl(fd_, F_SETPIPE_SZ, pipeSize);
}

void Tick::operator()() {
  Frame frame = frames_->newest();
  if (!frame) return;
  if (!lends_) {
    for (auto& span : frame->spans()) writeAll(fd_, span.iov_base, span.iov_len);
    return;
  }
  lend(frame);
}

void Tick::lend(const Frame& frame) {
  std::vector<iovec> rest = frame->spans();
  size_t next = 0;
  while (next < rest.size()) {
    ssize_t n = vmsplice(fd_, &rest[next], std::min<size_t>(rest.size() - next, IOV_MAX), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) _exit(0);  // the reader has gone
    if (n <= 0) {
      // The pipe would not take the pages (short of memory, say): copy the rest.
      for (; next < rest.size(); next++) writeAll(fd_, rest[next].iov_base, rest[next].iov_len);
      return;
    }
    for (size_t taken = size_t(n); taken > 0;) {
      size_t part = std::min(taken, rest[next].iov_len);
      rest[next].iov_base = static_cast<uint8_t*>(rest[next].iov_base) + part;
      rest[next].iov_len -= part;
      taken -= part;
      if (rest[next].iov_len == 0) next++;
    }
  }
}

std::chrono::nanoseconds tickInterval(int64_t fps) {
  return std::chrono::nanoseconds(std::max<int64_t>(1, 1'000'000'000 / fps));
}

std::shared_ptr<platform::SerialQueue> installTick(std::shared_ptr<Frames> frames, int64_t fps) {
  auto tick = std::make_shared<Tick>(std::move(frames), STDOUT_FILENO);
  auto ticks = std::make_shared<platform::SerialQueue>("pellix.ticks");
  ticks->repeat(tickInterval(fps), [tick] { (*tick)(); });
  return ticks;
}
