/* The least a screencopy capture can do, as the bare loop bench/wayland.sh
 * measures the tool against:  screencopy-loop FPS
 * Copies the first output of the compositor in WAYLAND_DISPLAY, a plain copy
 * first and then with damage, at most FPS times a second, and writes each
 * copied frame whole to standard output as the compositor made it, through a
 * pipe of 1 MiB where it can (writes into a default pipe cost twice as much).
 * Ends when the compositor or the reader goes away. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wlr-screencopy-unstable-v1-client.h"

static struct wl_shm* shm;
static struct wl_output* output;
static struct zwlr_screencopy_manager_v1* manager;

static struct wl_buffer* buffer;
static uint8_t* pixels;
static size_t bytes;
static int copied, failed, with_damage;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  (void)data;
  if (!strcmp(interface, wl_shm_interface.name))
    shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
  else if (!strcmp(interface, wl_output_interface.name) && !output)
    output = wl_registry_bind(registry, name, &wl_output_interface, 1);
  else if (!strcmp(interface, zwlr_screencopy_manager_v1_interface.name) && version >= 3)
    manager = wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, 3);
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void on_buffer(void* data, struct zwlr_screencopy_frame_v1* frame, uint32_t format, uint32_t width,
                      uint32_t height, uint32_t stride) {
  (void)data, (void)frame;
  if (buffer) return;
  bytes = (size_t)stride * height;
  int fd = memfd_create("screencopy-loop", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, (off_t)bytes) != 0) exit(1);
  pixels = mmap(NULL, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) exit(1);
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, (int32_t)bytes);
  buffer = wl_shm_pool_create_buffer(pool, 0, (int32_t)width, (int32_t)height, (int32_t)stride, format);
  wl_shm_pool_destroy(pool);
  close(fd);
}
static void on_flags(void* data, struct zwlr_screencopy_frame_v1* frame, uint32_t flags) {
  (void)data, (void)frame, (void)flags;
}
static void on_ready(void* data, struct zwlr_screencopy_frame_v1* frame, uint32_t a, uint32_t b, uint32_t c) {
  (void)data, (void)frame, (void)a, (void)b, (void)c;
  copied = 1;
}
static void on_failed(void* data, struct zwlr_screencopy_frame_v1* frame) {
  (void)data, (void)frame;
  failed = 1;
}
static void on_damage(void* data, struct zwlr_screencopy_frame_v1* frame, uint32_t x, uint32_t y, uint32_t w,
                      uint32_t h) {
  (void)data, (void)frame, (void)x, (void)y, (void)w, (void)h;
}
static void on_dmabuf(void* data, struct zwlr_screencopy_frame_v1* frame, uint32_t f, uint32_t w, uint32_t h) {
  (void)data, (void)frame, (void)f, (void)w, (void)h;
}
static void on_buffer_done(void* data, struct zwlr_screencopy_frame_v1* frame) {
  (void)data;
  if (with_damage)
    zwlr_screencopy_frame_v1_copy_with_damage(frame, buffer);
  else
    zwlr_screencopy_frame_v1_copy(frame, buffer);
}
static const struct zwlr_screencopy_frame_v1_listener frame_listener = {
    on_buffer, on_flags, on_ready, on_failed, on_damage, on_dmabuf, on_buffer_done};

static int64_t now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

int main(int argc, char** argv) {
  int fps = argc > 1 ? atoi(argv[1]) : 30;
  if (fps <= 0) return 2;
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) return 1;
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!shm || !output || !manager) return 1;

  fcntl(1, F_SETPIPE_SZ, 1 << 20);
  int64_t interval = 1000000000 / fps, next = now_ns();
  for (;;) {
    copied = failed = 0;
    struct zwlr_screencopy_frame_v1* frame = zwlr_screencopy_manager_v1_capture_output(manager, 0, output);
    zwlr_screencopy_frame_v1_add_listener(frame, &frame_listener, NULL);
    while (!copied && !failed)
      if (wl_display_dispatch(display) < 0) return 1;
    zwlr_screencopy_frame_v1_destroy(frame);
    if (failed) return 1;
    with_damage = 1;
    for (size_t sent = 0; sent < bytes;) {
      ssize_t n = write(1, pixels + sent, bytes - sent);
      if (n <= 0) return errno == EPIPE ? 0 : 1;
      sent += (size_t)n;
    }
    int64_t now = now_ns();
    next += interval;
    if (next < now) next = now;
    struct timespec wait = {(time_t)((next - now) / 1000000000), (long)((next - now) % 1000000000)};
    nanosleep(&wait, NULL);
  }
}
