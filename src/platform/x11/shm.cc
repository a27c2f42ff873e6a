#include "platform/x11/shm.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <cstring>

namespace platform::x11 {

Segment::Segment(const std::shared_ptr<Connection>& connection, size_t bytes) : connection_(connection), size_(bytes) {
  size_t length = bytes ? bytes : 4;
  if (connection->has().shm) {
    int id = shmget(IPC_PRIVATE, length, IPC_CREAT | 0600);
    if (id >= 0) {
      void* at = shmat(id, nullptr, 0);
      if (at != reinterpret_cast<void*>(-1)) {
        auto* c = connection->xcb();
        uint32_t seg = xcb_generate_id(c);
        auto* error = xcb_request_check(c, xcb_shm_attach_checked(c, seg, uint32_t(id), 0));
        if (!error && !connection->broken()) {
          data_ = static_cast<uint8_t*>(at);
          seg_ = seg;
        } else {
          free(error);
          shmdt(at);
        }
      }
      shmctl(id, IPC_RMID, nullptr);  // gone once both sides let go
    }
  }
  if (!data_) {
    void* at = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) throw Error{failedToStart, "out of memory for " + std::to_string(length) + " bytes"};
    data_ = static_cast<uint8_t*>(at);
    mapped_ = true;
  }
  memset(data_, 0, length);
}

Segment::~Segment() {
  if (mapped_) {
    munmap(data_, size_ ? size_ : 4);
    return;
  }
  if (auto connection = connection_.lock(); connection && !connection->broken()) {
    xcb_shm_detach(connection->xcb(), seg_);
    xcb_flush(connection->xcb());
  }
  shmdt(data_);
}

Grab grab(Connection& connection, xcb_drawable_t drawable, int x, int y, int width, int height, Segment& into) {
  auto* c = connection.xcb();
  xcb_generic_error_t* error = nullptr;
  size_t bytes = size_t(width) * size_t(height) * 4;
  if (bytes > into.size()) return Grab::failed;
  if (into.shared()) {
    Reply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
        c,
        xcb_shm_get_image(c, drawable, int16_t(x), int16_t(y), uint16_t(width), uint16_t(height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, into.seg(), 0),
        &error));
    if (image) return Grab::done;
  } else {
    Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(x), int16_t(y), uint16_t(width),
                      uint16_t(height), ~0u),
        &error));
    if (image && size_t(xcb_get_image_data_length(image.get())) >= bytes) {
      memcpy(into.data(), xcb_get_image_data(image.get()), bytes);
      return Grab::done;
    }
  }
  Reply<xcb_generic_error_t> failure(error);
  if (connection.broken()) return Grab::broken;
  return failure && failure->error_code == XCB_ACCESS ? Grab::refused : Grab::failed;
}

}  // namespace platform::x11
