#include "platform/wayland/screencopy.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>

#include "wlr-screencopy-unstable-v1-client.h"

namespace platform::wayland {

namespace {

std::optional<Layout> layoutOf(uint32_t format) {
  switch (format) {
    case WL_SHM_FORMAT_XRGB8888:
    case WL_SHM_FORMAT_ARGB8888:
      return Layout::bgrx;
    case WL_SHM_FORMAT_XBGR8888:
    case WL_SHM_FORMAT_ABGR8888:
      return Layout::rgbx;
    default:
      return std::nullopt;
  }
}

}  // namespace

// A wl_buffer over memory shared with the compositor.
struct Screencopy::Shm {
  Shm(wl_shm* shm, uint32_t format, int width, int height, int stride)
      : format(format), width(width), height(height), stride(stride), bytes(size_t(stride) * size_t(height)) {
    int fd = memfd_create("pellix-screencopy", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, off_t(bytes)) != 0) {
      if (fd >= 0) close(fd);
      throw Error{failedToStart, std::string("cannot make shared memory for the compositor (") + strerror(errno) + ")"};
    }
    // Populated now, in one go: copies never fault on fresh pages, and the
    // kernel fills the pages faster than touching them one by one would.
    void* at = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (at == MAP_FAILED) {
      close(fd);
      throw Error{failedToStart, std::string("cannot map shared memory (") + strerror(errno) + ")"};
    }
    data = static_cast<uint8_t*>(at);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(bytes));
    buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
    wl_shm_pool_destroy(pool);
    close(fd);
  }
  ~Shm() {
    wl_buffer_destroy(buffer);
    munmap(data, bytes);
  }
  bool fits(const Offer& o) const {
    return o.format == format && int(o.width) == width && int(o.height) == height && int(o.stride) == stride;
  }

  uint32_t format;
  int width, height, stride;
  size_t bytes;
  uint8_t* data = nullptr;
  wl_buffer* buffer = nullptr;
};

struct Screencopy::Listeners {
  static Screencopy& of(void* data) { return *static_cast<Screencopy*>(data); }
  static void buffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
                     uint32_t stride) {
    of(data).offered(format, width, height, stride);
  }
  static void flags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    of(data).yInvert_ = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
  }
  static void ready(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    of(data).finish(State::ready);
  }
  static void failed(void* data, zwlr_screencopy_frame_v1*) { of(data).finish(State::failed); }
  static void damage(void* data, zwlr_screencopy_frame_v1*, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    of(data).damage_.push_back({int(x), int(y), int(width), int(height)});
  }
  static void dmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
  static void bufferDone(void* data, zwlr_screencopy_frame_v1*) { of(data).copy(); }

  static constexpr zwlr_screencopy_frame_v1_listener frame{buffer, flags, ready, failed, damage, dmabuf, bufferDone};
};

Screencopy::Screencopy(Connection& connection, wl_output* output, bool cursor)
    : connection_(connection), output_(output), cursor_(cursor) {}

Screencopy::~Screencopy() {
  if (frame_) zwlr_screencopy_frame_v1_destroy(frame_);
}

void Screencopy::request(bool afterChange) {
  if (frame_) zwlr_screencopy_frame_v1_destroy(frame_);
  afterChange_ = afterChange;
  state_ = State::waiting;
  offers_.clear();
  damage_.clear();
  yInvert_ = false;
  problem_.reset();
  frame_ = zwlr_screencopy_manager_v1_capture_output(connection_.screencopy(), cursor_ ? 1 : 0, output_);
  zwlr_screencopy_frame_v1_add_listener(frame_, &Listeners::frame, this);
}

void Screencopy::offered(uint32_t format, uint32_t width, uint32_t height, uint32_t stride) {
  offers_.push_back({format, width, height, stride});
  // Before version 3 the one buffer event is all there is.
  if (zwlr_screencopy_frame_v1_get_version(frame_) < ZWLR_SCREENCOPY_FRAME_V1_BUFFER_DONE_SINCE_VERSION) copy();
}

void Screencopy::copy() {
  const Offer* chosen = nullptr;
  for (auto& o : offers_)
    if (layoutOf(o.format) && (!chosen || *layoutOf(o.format) == Layout::bgrx)) chosen = &o;
  if (!chosen) {
    std::string formats;
    for (auto& o : offers_) formats += (formats.empty() ? "" : ", ") + std::to_string(o.format);
    problem_ = Error{failedToStart, "the compositor offers no shared-memory buffer in a format this tool reads "
                                    "(wl_shm formats offered: " + (formats.empty() ? "none" : formats) + ")"};
    finish(State::failed);
    return;
  }
  try {
    if (!shm_ || !shm_->fits(*chosen))
      shm_ = std::make_unique<Shm>(connection_.shm(), chosen->format, int(chosen->width), int(chosen->height),
                                   int(chosen->stride));
  } catch (const Error& error) {
    problem_ = error;
    finish(State::failed);
    return;
  }
  if (afterChange_)
    zwlr_screencopy_frame_v1_copy_with_damage(frame_, shm_->buffer);
  else
    zwlr_screencopy_frame_v1_copy(frame_, shm_->buffer);
}

void Screencopy::finish(State state) {
  if (state_ != State::waiting) return;
  state_ = state;
  if (state == State::ready && (!afterChange_ || damage_.empty()) && shm_)
    damage_ = {{0, 0, shm_->width, shm_->height}};  // a plain copy says nothing of what changed
}

ScreenBuffer Screencopy::buffer() const {
  if (state_ != State::ready || !shm_) return {};
  return {shm_->data, shm_->width, shm_->height, size_t(shm_->stride), *layoutOf(shm_->format), yInvert_};
}

}  // namespace platform::wayland
