#include "video/tick.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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
  if (!lends_) return writeAll(fd_, frame->data(), frame->size());
  lend(frame);
}

void Tick::lend(const Frame& frame) {
  iovec rest{const_cast<uint8_t*>(frame->data()), frame->size()};
  while (rest.iov_len > 0) {
    ssize_t n = vmsplice(fd_, &rest, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) _exit(0);  // the reader has gone
    // The pipe would not take the pages (short of memory, say): copy the rest.
    if (n <= 0) return writeAll(fd_, rest.iov_base, rest.iov_len);
    rest.iov_base = static_cast<uint8_t*>(rest.iov_base) + n;
    rest.iov_len -= size_t(n);
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
