// The least a portal capture can do, as the bare consumer bench/portal.sh
// measures the tool against:  portal-loop FPS
// Asks the screencast portal for a monitor (the tool's own portal client),
// then takes the PipeWire stream with libpipewire alone, at most FPS frames a
// second, BGRx or BGRA in mapped memory, and writes each frame whole to
// standard output as it came, row by row, through a pipe of 1 MiB where it
// can. Ends when the stream or the reader goes away.
#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/wayland/portal/screencast_portal.h"

namespace {

pw_main_loop* loop;
pw_stream* stream;
spa_hook listener;
int width, height;

bool writeAll(const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(1, data, size);
    if (n <= 0) return false;
    data += n, size -= size_t(n);
  }
  return true;
}

void process(void*) {
  pw_buffer* b = pw_stream_dequeue_buffer(stream);
  if (!b) return;
  spa_data& d = b->buffer->datas[0];
  if (d.data && d.chunk->size > 0) {
    size_t row = size_t(width) * 4, stride = d.chunk->stride > 0 ? size_t(d.chunk->stride) : row;
    auto* at = static_cast<const uint8_t*>(d.data) + d.chunk->offset;
    bool written = true;
    if (stride == row)
      written = writeAll(at, row * size_t(height));
    else
      for (int y = 0; y < height && written; y++) written = writeAll(at + stride * size_t(y), row);
    if (!written) pw_main_loop_quit(loop);
  }
  pw_stream_queue_buffer(stream, b);
}

void paramChanged(void*, uint32_t id, const spa_pod* param) {
  spa_video_info_raw info{};
  if (id != SPA_PARAM_Format || !param || spa_format_video_raw_parse(param, &info) < 0) return;
  width = int(info.size.width), height = int(info.size.height);
  uint8_t space[256];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
  const spa_pod* buffers = static_cast<const spa_pod*>(
      spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
                                 SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
  pw_stream_update_params(stream, &buffers, 1);
}

void stateChanged(void*, pw_stream_state, pw_stream_state state, const char*) {
  if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) pw_main_loop_quit(loop);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t fps = argc > 1 ? uint32_t(atoi(argv[1])) : 30;
  fcntl(1, F_SETPIPE_SZ, 1 << 20);
  platform::wayland::portal::ScreencastPortal portal;
  uint32_t node = 0;
  int remote = -1;
  try {
    node = portal.start(false, std::nullopt).streams.front().node;
    remote = portal.openPipeWireRemote();
  } catch (const platform::Error& error) {
    fprintf(stderr, "portal-loop: %s\n", error.description.c_str());
    return 2;
  }
  pw_init(&argc, &argv);
  loop = pw_main_loop_new(nullptr);
  pw_context* context = pw_context_new(pw_main_loop_get_loop(loop), nullptr, 0);
  pw_core* core = pw_context_connect_fd(context, remote, nullptr, 0);
  if (!core) return 2;
  stream = pw_stream_new(core, "portal-loop", pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", nullptr));
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.process = process;
  events.param_changed = paramChanged;
  events.state_changed = stateChanged;
  pw_stream_add_listener(stream, &listener, &events, nullptr);
  uint8_t space[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
  spa_rectangle size{1280, 720}, smallest{1, 1}, largest{16384, 16384};
  spa_fraction any{0, 1}, fastest{1000, 1}, wanted{fps, 1}, slowest{1, 1};
  const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&any, &any, &fastest), SPA_FORMAT_VIDEO_maxFramerate,
      SPA_POD_CHOICE_RANGE_Fraction(&wanted, &slowest, &fastest)));
  pw_stream_connect(stream, PW_DIRECTION_INPUT, node,
                    pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
  pw_main_loop_run(loop);
  return 0;
}
