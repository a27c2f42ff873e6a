/* A Wayland test window of known pixels: wayland-paint WIDTH HEIGHT RRGGBB NAME
 * Opens an xdg-shell toplevel whose app id and title are NAME, filled with one
 * colour through wl_shm at the size the compositor configures (WIDTH x HEIGHT
 * when it leaves the size to us), and prints "ready" once the compositor has
 * its first picture. Lines on standard input change it: "color RRGGBB", and
 * "animate FPS", which repaints it in a new colour FPS times a second (0
 * stops). Each line is answered with "ok" once the compositor has the change.
 * It ends when standard input ends. */
#define _GNU_SOURCE
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include "xdg-shell-client.h"

static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct xdg_wm_base* wm_base;

struct buffer {
  struct wl_buffer* buffer;
  uint32_t* pixels;
  int width, height, busy;
};
static struct buffer buffers[3];

static int width, height, configured, closed;
static uint32_t color;

static int64_t now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static int paint(void);
/* A picture of the latest size and colour is owed: every buffer was busy. */
static int owed;

static void released(void* data, struct wl_buffer* b) {
  (void)b;
  ((struct buffer*)data)->busy = 0;
  if (owed) owed = !paint();
}
static const struct wl_buffer_listener buffer_listener = {released};

static struct buffer* free_buffer(void) {
  for (int i = 0; i < 3; i++) {
    struct buffer* b = &buffers[i];
    if (b->busy) continue;
    if (b->buffer && (b->width != width || b->height != height)) {
      wl_buffer_destroy(b->buffer);
      munmap(b->pixels, (size_t)b->width * b->height * 4);
      b->buffer = NULL;
    }
    if (!b->buffer) {
      size_t size = (size_t)width * height * 4;
      int fd = memfd_create("wayland-paint", MFD_CLOEXEC);
      if (fd < 0 || ftruncate(fd, (off_t)size) != 0) exit(1);
      b->pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (b->pixels == MAP_FAILED) exit(1);
      struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, (int32_t)size);
      b->buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
      wl_buffer_add_listener(b->buffer, &buffer_listener, b);
      wl_shm_pool_destroy(pool);
      close(fd);
      b->width = width;
      b->height = height;
    }
    return b;
  }
  return NULL;
}

static struct wl_surface* surface;

/* Paints the whole window in `color`; false when every buffer is still the compositor's. */
static int paint(void) {
  struct buffer* b = free_buffer();
  if (!b) return 0;
  for (size_t i = 0; i < (size_t)width * height; i++) b->pixels[i] = 0xff000000u | color;
  b->busy = 1;
  wl_surface_attach(surface, b->buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, width, height);
  wl_surface_commit(surface);
  return 1;
}

static void ping(void* data, struct xdg_wm_base* base, uint32_t serial) {
  (void)data;
  xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {ping};

static void surface_configure(void* data, struct xdg_surface* xdg_surface, uint32_t serial) {
  (void)data;
  xdg_surface_ack_configure(xdg_surface, serial);
  configured = 1;
  /* The compositor keeps the size of the last picture it got: never skip one. */
  owed = !paint();
}
static const struct xdg_surface_listener surface_listener = {surface_configure};

static void toplevel_configure(void* data, struct xdg_toplevel* t, int32_t w, int32_t h, struct wl_array* states) {
  (void)data, (void)t, (void)states;
  if (w > 0 && h > 0) width = w, height = h;
}
static void toplevel_close(void* data, struct xdg_toplevel* t) {
  (void)data, (void)t;
  closed = 1;
}
/* Bound at version 1: the later events never come. */
static const struct xdg_toplevel_listener toplevel_listener = {.configure = toplevel_configure, .close = toplevel_close};

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  (void)data, (void)version;
  if (!strcmp(interface, wl_compositor_interface.name))
    compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
  else if (!strcmp(interface, wl_shm_interface.name))
    shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
  else if (!strcmp(interface, xdg_wm_base_interface.name))
    wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: wayland-paint WIDTH HEIGHT RRGGBB NAME\n");
    return 2;
  }
  width = atoi(argv[1]);
  height = atoi(argv[2]);
  color = (uint32_t)strtoul(argv[3], NULL, 16) & 0xffffff;
  const char* name = argv[4];

  struct wl_display* display = wl_display_connect(NULL);
  if (!display) return 1;
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (!compositor || !shm || !wm_base) return 1;
  xdg_wm_base_add_listener(wm_base, &wm_base_listener, NULL);

  surface = wl_compositor_create_surface(compositor);
  struct xdg_surface* xdg_surface = xdg_wm_base_get_xdg_surface(wm_base, surface);
  xdg_surface_add_listener(xdg_surface, &surface_listener, NULL);
  struct xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdg_surface);
  xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
  xdg_toplevel_set_app_id(toplevel, name);
  xdg_toplevel_set_title(toplevel, name);
  wl_surface_commit(surface);
  while (!configured)
    if (wl_display_dispatch(display) < 0) return 1;
  wl_display_roundtrip(display);
  printf("ready\n");
  fflush(stdout);

  char line[256];
  size_t used = 0;
  unsigned fps = 0, frame = 0;
  int64_t next = 0;
  for (;;) {
    if (closed) return 0;
    int timeout = -1;
    if (fps) {
      int64_t now = now_ms();
      if (now >= next) {
        color = (frame++ * 0x0b1d37u + 0x402010u) & 0xffffff;
        paint();
        next += 1000 / fps;
        if (next < now) next = now + 1000 / fps;
      }
      timeout = (int)(next - now_ms());
      if (timeout < 0) timeout = 0;
    }
    wl_display_flush(display);
    struct pollfd fds[2] = {{0, POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
    if (poll(fds, 2, timeout) <= 0) continue;
    if (fds[1].revents & POLLIN) {
      if (wl_display_dispatch(display) < 0) return 1;
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    ssize_t got = read(0, line + used, sizeof line - 1 - used);
    if (got <= 0) return 0;
    used += (size_t)got;
    line[used] = 0;
    char* end;
    while ((end = strchr(line, '\n'))) {
      *end = 0;
      unsigned v;
      if (sscanf(line, "color %x", &v) == 1) {
        color = v & 0xffffff;
        while (!paint())
          if (wl_display_dispatch(display) < 0) return 1;
      } else if (sscanf(line, "animate %u", &v) == 1) {
        fps = v > 1000 ? 1000 : v;
        next = now_ms();
      }
      wl_display_roundtrip(display);
      printf("ok\n");
      fflush(stdout);
      used -= (size_t)(end + 1 - line);
      memmove(line, end + 1, used + 1);
    }
  }
}
