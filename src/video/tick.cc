#include "video/tick.h"

#include <fcntl.h>
#include <unistd.h>

#include "front/diagnostics.h"

void tick(Frames& frames, int fd) {
  Frame frame = frames.newest();
  if (!frame) return;
  writeAll(fd, frame->data(), frame->size());
}

std::shared_ptr<platform::SerialQueue> installTick(std::shared_ptr<Frames> frames, int64_t fps) {
  int fd = STDOUT_FILENO;
  // A wider pipe takes a frame in fewer, cheaper writes; not a pipe: no effect.
  fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  auto ticks = std::make_shared<platform::SerialQueue>("pellix.ticks");
  ticks->repeat(std::chrono::nanoseconds(1'000'000'000 / fps), [frames, fd] { tick(*frames, fd); });
  return ticks;
}
