/* A test window of known pixels: paint-window X Y WIDTH HEIGHT RRGGBB [NAME]
 * Maps a top-level window filled with one colour, whose WM_CLASS and title are
 * NAME and whose _NET_WM_PID is this process, then prints its id in decimal on
 * a line of its own. Lines on standard input change it: "color RRGGBB",
 * "move X Y", "unmap", "map", "raise", "animate FPS", which repaints the
 * window in a new colour FPS times a second (0 stops; for benchmarks), and
 * "pattern", which paints the pixel at (x, y) of the window in red x % 256,
 * green y % 256, blue (x + y) / 4 % 256: a picture of many colours (a 24-bit
 * screen only). Each line is answered with "ok". It ends when standard input
 * ends. */
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

static int64_t now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), NULL);
  xcb_atom_t a = r ? r->atom : XCB_NONE;
  free(r);
  return a;
}

/* Rows at a time, within the core protocol's request size. */
static void paint_pattern(xcb_connection_t* c, xcb_screen_t* screen, xcb_window_t window, int w, int h) {
  xcb_gcontext_t gc = xcb_generate_id(c);
  xcb_create_gc(c, gc, window, 0, NULL);
  int rows = 200000 / (w * 4) > 0 ? 200000 / (w * 4) : 1;
  uint32_t* pixels = malloc((size_t)w * rows * 4);
  for (int top = 0; top < h; top += rows) {
    int n = top + rows > h ? h - top : rows;
    for (int y = 0; y < n; y++)
      for (int x = 0; x < w; x++)
        pixels[y * w + x] = (uint32_t)(x % 256) << 16 | (uint32_t)((top + y) % 256) << 8 | ((x + top + y) / 4 % 256);
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, w, n, 0, top, 0, screen->root_depth,
                  (uint32_t)w * n * 4, (const uint8_t*)pixels);
  }
  free(pixels);
  xcb_free_gc(c, gc);
}

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: paint-window X Y WIDTH HEIGHT RRGGBB [NAME]\n");
    return 2;
  }
  int x = atoi(argv[1]), y = atoi(argv[2]), w = atoi(argv[3]), h = atoi(argv[4]);
  uint32_t color = (uint32_t)strtoul(argv[5], NULL, 16);
  const char* name = argc > 6 ? argv[6] : "painter";

  xcb_connection_t* c = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(c)) return 1;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t window = xcb_generate_id(c);
  uint32_t values[] = {color, XCB_EVENT_MASK_EXPOSURE};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, x, y, w, h, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                    values);
  char wm_class[256];
  int n = snprintf(wm_class, sizeof wm_class, "%s%c%s", name, 0, name);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, n + 1, wm_class);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, strlen(name), name);
  uint32_t pid = (uint32_t)getpid();
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
  /* Keep the requested place under a window manager too. */
  uint32_t hints[18] = {0};
  hints[0] = 1 | 2 | 4 | 8; /* USPosition | USSize | PPosition | PSize */
  hints[1] = x; hints[2] = y; hints[3] = w; hints[4] = h;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18,
                      hints);
  xcb_map_window(c, window);
  xcb_flush(c);
  /* Wait until the window is mapped and painted before announcing it. */
  xcb_generic_event_t* e;
  while ((e = xcb_wait_for_event(c))) {
    int expose = (e->response_type & 0x7f) == XCB_EXPOSE;
    free(e);
    if (expose) break;
  }
  xcb_clear_area(c, 0, window, 0, 0, 0, 0);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
  printf("%u\n", window);
  fflush(stdout);

  struct pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(c), POLLIN, 0}};
  char line[256];
  size_t used = 0;
  unsigned fps = 0, frame = 0;
  int64_t next = 0;
  for (;;) {
    while ((e = xcb_poll_for_event(c))) free(e);
    if (xcb_connection_has_error(c)) return 1;
    int timeout = -1;
    if (fps) {
      int64_t now = now_ms();
      if (now >= next) {
        uint32_t v = (frame++ * 0x0b1d37u + 0x402010u) & 0xffffff;
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &v);
        xcb_clear_area(c, 0, window, 0, 0, 0, 0);
        xcb_flush(c);
        next += 1000 / fps;
        if (next < now) next = now + 1000 / fps;
      }
      timeout = (int)(next - now_ms());
      if (timeout < 0) timeout = 0;
    }
    if (poll(fds, 2, timeout) <= 0) continue;
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    ssize_t got = read(0, line + used, sizeof line - 1 - used);
    if (got <= 0) return 0;
    used += (size_t)got;
    line[used] = 0;
    char* end;
    while ((end = strchr(line, '\n'))) {
      *end = 0;
      unsigned v, a, b;
      if (sscanf(line, "color %x", &v) == 1) {
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &v);
        xcb_clear_area(c, 0, window, 0, 0, 0, 0);
      } else if (sscanf(line, "move %u %u", &a, &b) == 2) {
        uint32_t place[] = {a, b};
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
      } else if (!strcmp(line, "unmap")) {
        xcb_unmap_window(c, window);
      } else if (!strcmp(line, "map")) {
        xcb_map_window(c, window);
      } else if (sscanf(line, "animate %u", &v) == 1) {
        fps = v > 1000 ? 1000 : v;
        next = now_ms();
      } else if (!strcmp(line, "pattern")) {
        paint_pattern(c, screen, window, w, h);
      } else if (!strcmp(line, "raise")) {
        uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
      }
      free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
      printf("ok\n");
      fflush(stdout);
      used -= (size_t)(end + 1 - line);
      memmove(line, end + 1, used + 1);
    }
  }
}
