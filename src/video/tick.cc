#include "video/tick.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "front/diagnostics.h"

Tick::Tick(std::shared_ptr<Frames> frames, int fd) : frames_(std::move(frames)), fd_(fd) {
  struct stat out;
  lends_ = fstat(fd_, &out) == 0 && S_ISFIFO(out.st_mode);
  if (lends_) {
    // A wider pipe takes more of a frame per call.
    fcntl(fd_, F_SETPIPE_SZ, 1 << 20);
    int size = fcntl(fd_, F_GETPIPE_SZ);
    lends_ = size > 0;
    capacity_ = uint64_t(size);
  }
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
    if (n <= 0) _exit(0);
    rest.iov_base = static_cast<uint8_t*>(rest.iov_base) + n;
    rest.iov_len -= size_t(n);
  }
  written_ += frame->size();
  if (!lent_.empty() && lent_.back().first == frame)
    lent_.back().second = written_;
  else
    lent_.emplace_back(frame, written_);
  // A pipe holds at most its capacity: what came that much earlier has been read.
  while (!lent_.empty() && lent_.front().second + capacity_ <= written_) lent_.pop_front();
}

std::shared_ptr<platform::SerialQueue> installTick(std::shared_ptr<Frames> frames, int64_t fps) {
  auto tick = std::make_shared<Tick>(std::move(frames), STDOUT_FILENO);
  auto ticks = std::make_shared<platform::SerialQueue>("pellix.ticks");
  ticks->repeat(std::chrono::nanoseconds(1'000'000'000 / fps), [tick] { (*tick)(); });
  return ticks;
}
