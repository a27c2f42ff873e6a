#include "platform/wayland/portal/pipewire_consumer.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

namespace platform::wayland::portal {

namespace {

constexpr int maxDamageBoxes = 16;

Error failure(const std::string& why) { return {failedToStart, why}; }

}  // namespace

struct PipewireConsumer::State {
  Events events;
  uint32_t node = 0;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  pw_stream* stream = nullptr;
  spa_hook coreListener{}, registryListener{}, streamListener{};
  spa_source* watched = nullptr;
  bool stopped = false;  // loop thread, or under the loop's lock
  // A failed stream waits for PipeWire's answer to a sync before it ends:
  // when its node went away, the registry says so first, and more clearly.
  std::optional<Error> failed;
  int failedSync = -1;

  // The negotiated format.
  int width = 0, height = 0;
  // What changed since the last frame handed over; none when all may have.
  std::optional<std::vector<Box>> pending = std::nullopt;
  bool first = true;

  void end(const Error& error) {
    if (stopped) return;
    stopped = true;
    if (events.stopped) events.stopped(error);
  }

  // Adds the damage of `buffer` to what is pending.
  void addDamage(spa_buffer* buffer) {
    auto* meta = static_cast<spa_meta*>(spa_buffer_find_meta(buffer, SPA_META_VideoDamage));
    std::vector<Box> boxes;
    if (meta) {
      spa_meta_region* r;
      spa_meta_for_each(r, meta) {
        if (!spa_meta_region_is_valid(r)) break;
        boxes.push_back({r->region.position.x, r->region.position.y, int(r->region.size.width),
                         int(r->region.size.height)});
      }
    }
    // No damage said: anything may have changed.
    if (first || boxes.empty()) pending = std::nullopt;
    else if (pending) pending->insert(pending->end(), boxes.begin(), boxes.end());
    first = false;
  }

  // The buffer's pixels, when it holds a whole frame.
  std::optional<ScreenBuffer> pixels(spa_buffer* buffer) const {
    auto* header = static_cast<spa_meta_header*>(spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return std::nullopt;
    if (buffer->n_datas < 1) return std::nullopt;
    spa_data& d = buffer->datas[0];
    if (!d.data || !d.chunk || d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return std::nullopt;
    if (width <= 0 || height <= 0) return std::nullopt;
    size_t row = size_t(width) * 4;
    size_t stride = d.chunk->stride > 0 ? size_t(d.chunk->stride) : row;
    // A buffer too small for the frame it claims is not read past its end.
    size_t offset = d.chunk->offset % (d.maxsize ? d.maxsize : 1);
    if (stride < row || offset + stride * size_t(height - 1) + row > d.maxsize) return std::nullopt;
    return ScreenBuffer{static_cast<const uint8_t*>(d.data) + offset, width, height, stride, Layout::bgrx, false};
  }

  void process() {
    // The newest buffer is shown; older ones only add their damage.
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(stream)) {
      if (newest) pw_stream_queue_buffer(stream, newest);
      addDamage(b->buffer);
      newest = b;
    }
    if (!newest) return;
    if (auto buffer = pixels(newest->buffer); buffer && !stopped) {
      events.frame(*buffer, pending);
      pending = std::vector<Box>{};
    }
    pw_stream_queue_buffer(stream, newest);
  }

  void formatChanged(const spa_pod* param) {
    spa_video_info_raw info{};
    if (!param || spa_format_video_raw_parse(param, &info) < 0) return;
    width = int(info.size.width);
    height = int(info.size.height);
    first = true;
    uint8_t space[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(sizeof(spa_meta_region) * maxDamageBoxes, sizeof(spa_meta_region),
                                 sizeof(spa_meta_region) * maxDamageBoxes)));
    pw_stream_update_params(stream, params, 3);
  }

  static void onCoreError(void* data, uint32_t id, int, int res, const char* message) {
    auto& s = *static_cast<State*>(data);
    if (id != PW_ID_CORE) return;
    if (res == -EPIPE)
      s.end({streamStopped, "PipeWire went away (its connection broke)"});
    else
      s.end({streamStopped, std::string("PipeWire ended the stream (") + (message ? message : spa_strerror(res)) + ")"});
  }
  static void onCoreDone(void* data, uint32_t id, int seq) {
    auto& s = *static_cast<State*>(data);
    if (id == PW_ID_CORE && s.failed && seq == s.failedSync) s.end(*s.failed);
  }
  static void onGlobalRemove(void* data, uint32_t id) {
    auto& s = *static_cast<State*>(data);
    if (id == s.node)
      s.end({streamStopped, "the desktop ended its screencast stream (PipeWire node " + std::to_string(id) + " is gone)"});
  }
  static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto& s = *static_cast<State*>(data);
    if (state == PW_STREAM_STATE_ERROR && !s.failed) {
      s.failed = Error{streamStopped,
                       std::string("PipeWire's screencast stream failed (") + (error ? error : "no reason given") + ")"};
      s.failedSync = pw_core_sync(s.core, PW_ID_CORE, 0);
    } else if (state == PW_STREAM_STATE_UNCONNECTED)
      s.end({streamStopped, "PipeWire disconnected the screencast stream"});
  }
  static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format) static_cast<State*>(data)->formatChanged(param);
  }
  static void onProcess(void* data) { static_cast<State*>(data)->process(); }
  static void onReadable(void* data, int, uint32_t) {
    auto& s = *static_cast<State*>(data);
    if (!s.stopped && s.events.readable) s.events.readable();
  }

  static const pw_core_events* coreEvents() {
    static const pw_core_events e = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.error = onCoreError;
      e.done = onCoreDone;
      return e;
    }();
    return &e;
  }
  static const pw_registry_events* registryEvents() {
    static const pw_registry_events e = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global_remove = onGlobalRemove;
      return e;
    }();
    return &e;
  }
  static const pw_stream_events* streamEvents() {
    static const pw_stream_events e = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.state_changed = onStateChanged;
      e.param_changed = onParamChanged;
      e.process = onProcess;
      return e;
    }();
    return &e;
  }
};

PipewireConsumer::PipewireConsumer(int fd, uint32_t node, int fps, Events events) : state_(std::make_unique<State>()) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
  auto& s = *state_;
  s.events = std::move(events);
  s.node = node;
  s.loop = pw_thread_loop_new("pellix.portal", nullptr);
  if (s.loop) s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
  if (!s.context || pw_thread_loop_start(s.loop) < 0) {
    ::close(fd);
    tearDown();
    throw failure("PipeWire's thread loop could not be started");
  }
  try {
    connect(fd, fps);
  } catch (const Error&) {
    tearDown();
    throw;
  }
}

void PipewireConsumer::connect(int fd, int fps) {
  auto& s = *state_;
  uint32_t node = s.node;
  pw_thread_loop_lock(s.loop);
  s.core = pw_context_connect_fd(s.context, fd, nullptr, 0);
  if (!s.core) {
    pw_thread_loop_unlock(s.loop);
    throw failure(std::string("PipeWire's remote from the portal did not connect (") + strerror(errno) + ")");
  }
  pw_core_add_listener(s.core, &s.coreListener, State::coreEvents(), &s);
  s.registry = pw_core_get_registry(s.core, PW_VERSION_REGISTRY, 0);
  pw_registry_add_listener(s.registry, &s.registryListener, State::registryEvents(), &s);
  s.stream = pw_stream_new(s.core, "pellix-capture",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (!s.stream) {
    pw_thread_loop_unlock(s.loop);
    throw failure("PipeWire's stream could not be made");
  }
  pw_stream_add_listener(s.stream, &s.streamListener, State::streamEvents(), &s);

  uint8_t space[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(space, sizeof space);
  spa_rectangle size{1280, 720}, smallest{1, 1}, largest{16384, 16384};
  spa_fraction anyRate{0, 1}, noRate{0, 1}, fastest{1000, 1};
  spa_fraction wanted{uint32_t(fps > 0 ? fps : 60), 1}, slowest{1, 1};
  // BGRA alone never negotiates with some portals: BGRx first.
  const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest), SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&anyRate, &noRate, &fastest), SPA_FORMAT_VIDEO_maxFramerate,
      SPA_POD_CHOICE_RANGE_Fraction(&wanted, &slowest, &fastest)));
  int r = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, node,
                            pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1);
  pw_thread_loop_unlock(s.loop);
  if (r < 0) throw failure(std::string("PipeWire's stream did not connect (") + spa_strerror(r) + ")");
}

PipewireConsumer::~PipewireConsumer() {
  stop();
  tearDown();
}

void PipewireConsumer::tearDown() {
  auto& s = *state_;
  if (!s.loop) return;
  pw_thread_loop_stop(s.loop);
  if (s.stream) pw_stream_destroy(s.stream);
  if (s.registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.registry));
  if (s.core) pw_core_disconnect(s.core);
  if (s.context) pw_context_destroy(s.context);
  pw_thread_loop_destroy(s.loop);
  s.loop = nullptr;
}

void PipewireConsumer::watch(int fd) {
  auto& s = *state_;
  pw_thread_loop_lock(s.loop);
  s.watched = pw_loop_add_io(pw_thread_loop_get_loop(s.loop), fd, SPA_IO_IN | SPA_IO_ERR | SPA_IO_HUP, false,
                             State::onReadable, &s);
  // What came before the watch began is read at once.
  pw_loop_invoke(
      pw_thread_loop_get_loop(s.loop),
      [](spa_loop*, bool, uint32_t, const void*, size_t, void* data) {
        State::onReadable(data, -1, 0);
        return 0;
      },
      0, nullptr, 0, false, &s);
  pw_thread_loop_unlock(s.loop);
}

void PipewireConsumer::stop() {
  auto& s = *state_;
  if (!s.loop) return;
  pw_thread_loop_lock(s.loop);
  s.stopped = true;
  if (s.stream) pw_stream_disconnect(s.stream);
  pw_thread_loop_unlock(s.loop);
}

}  // namespace platform::wayland::portal
