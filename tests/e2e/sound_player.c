/* Plays a tone on the default sink of the PulseAudio server in the
 * environment and says when it is heard.
 *
 *   sound-player [--on-go] <lead seconds> <tone seconds> <hertz> [<tail seconds>]
 *
 * Plays <lead> seconds of silence, then a sine of amplitude 0.5 at <hertz>
 * on both channels for <tone> seconds, then <tail> seconds of silence (0 when
 * left out). Prints "ready" once the stream plays; then the time at which
 * the tone's first frame is heard, on CLOCK_MONOTONIC and on the wall clock,
 * "%.6f %.6f\n"; then "done" after the tail has played. With --on-go, the
 * stream plays silence from "ready" until a line (or the end) arrives on
 * standard input, and the lead counts from then: a test can start the tone
 * once whatever should hear it listens.
 *
 * The time comes from the server's own timing snapshot: when it was taken,
 * the sink had read the stream up to read_index, and what it reads is heard
 * sink_usec later. */
#include <math.h>
#include <pulse/pulseaudio.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#define RATE 48000

static long lead, tone, tail, written;
static double hertz;
static int said, waiting;
static pa_mainloop* loop;

static double seconds(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void fail(const char* what, pa_context* context) {
  fprintf(stderr, "sound-player: %s: %s\n", what, pa_strerror(pa_context_errno(context)));
  exit(1);
}

static void drained(pa_stream* stream, int success, void* data) {
  (void)stream, (void)success, (void)data;
  printf("done\n");
  pa_mainloop_quit(loop, 0);
}

static void timed(pa_stream* stream, int success, void* data) {
  (void)success, (void)data;
  const pa_timing_info* timing = pa_stream_get_timing_info(stream);
  if (said || !timing || timing->read_index_corrupt || timing->read_index <= 0) return;
  said = 1;
  double wallToHost = seconds(CLOCK_REALTIME) - seconds(CLOCK_MONOTONIC);
  double taken = (double)timing->timestamp.tv_sec + (double)timing->timestamp.tv_usec / 1e6;
  double heard = taken + (double)timing->sink_usec / 1e6 + (double)(lead * 8 - timing->read_index) / (RATE * 8);
  printf("%.6f %.6f\n", heard - wallToHost, heard);
}

static void writable(pa_stream* stream, size_t bytes, void* data) {
  (void)data;
  long total = waiting ? written + (long)(bytes / 8) + lead + tone + tail : lead + tone + tail;
  long frames = (long)(bytes / 8);
  if (frames > total - written) frames = total - written;
  if (frames <= 0) return;
  float* block = malloc((size_t)frames * 8);
  for (long k = 0; k < frames; k++) {
    long f = written + k;
    float v = !waiting && f >= lead && f < lead + tone ? (float)(0.5 * sin(2 * M_PI * hertz * (double)(f - lead) / RATE)) : 0;
    block[2 * k] = block[2 * k + 1] = v;
  }
  pa_stream_write(stream, block, (size_t)frames * 8, free, 0, PA_SEEK_RELATIVE);
  written += frames;
  /* Once the tone is queued and the sink has read some of the stream, ask
   * where the sink stands. */
  if (written > lead && !said && !waiting) pa_operation_unref(pa_stream_update_timing_info(stream, timed, NULL));
  if (written == total) pa_operation_unref(pa_stream_drain(stream, drained, NULL));
}

/* The go line: the lead begins after what is written already. */
static void go(pa_mainloop_api* api, pa_io_event* event, int fd, pa_io_event_flags_t flags, void* data) {
  (void)fd, (void)flags, (void)data;
  char line[64];
  if (read(STDIN_FILENO, line, sizeof line) < 0) return;
  api->io_free(event);
  lead += written;
  waiting = 0;
}

/* A stream that runs dry before its end plays late from then on: the times
 * said no longer hold. */
static void underflow(pa_stream* stream, void* data) {
  (void)stream, (void)data;
  if (!waiting && written < lead + tone + tail) fprintf(stderr, "sound-player: the stream ran dry\n");
}

static void streamChanged(pa_stream* stream, void* data) {
  (void)data;
  if (pa_stream_get_state(stream) == PA_STREAM_READY) printf("ready\n");
  if (pa_stream_get_state(stream) == PA_STREAM_FAILED) fail("stream", pa_stream_get_context(stream));
}

static void contextChanged(pa_context* context, void* data) {
  (void)data;
  pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_FAILED) fail("connect", context);
  if (state != PA_CONTEXT_READY) return;
  pa_sample_spec spec = {PA_SAMPLE_FLOAT32LE, RATE, 2};
  pa_stream* stream = pa_stream_new(context, "tone", &spec, NULL);
  /* A tenth of a second: a busy machine does not starve it (with 40 ms it
   * ran dry several times a run), and the tone is heard soon after it is
   * written. */
  pa_buffer_attr attributes = {(uint32_t)-1, (uint32_t)(100 * RATE / 1000 * 8), (uint32_t)-1, (uint32_t)-1,
                               (uint32_t)-1};
  pa_stream_set_state_callback(stream, streamChanged, NULL);
  pa_stream_set_write_callback(stream, writable, NULL);
  pa_stream_set_underflow_callback(stream, underflow, NULL);
  if (pa_stream_connect_playback(stream, NULL, &attributes,
                                 PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE, NULL, NULL) < 0)
    fail("playback", context);
}

int main(int argc, char** argv) {
  if (argc > 1 && !strcmp(argv[1], "--on-go")) {
    waiting = 1;
    argv++, argc--;
  }
  if (argc < 4) {
    fprintf(stderr, "usage: sound-player [--on-go] <lead seconds> <tone seconds> <hertz> [<tail seconds>]\n");
    return 2;
  }
  lead = lround(atof(argv[1]) * RATE);
  tone = lround(atof(argv[2]) * RATE);
  hertz = atof(argv[3]);
  tail = argc > 4 ? lround(atof(argv[4]) * RATE) : 0;
  setvbuf(stdout, NULL, _IOLBF, 0);
  /* A measuring instrument keeps ahead of the load it measures under, as the
   * sound server does (it runs at nice -11); where that is not allowed, a
   * stream that runs dry says so. */
  setpriority(PRIO_PROCESS, 0, -11);
  loop = pa_mainloop_new();
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "sound-player");
  pa_context_set_state_callback(context, contextChanged, NULL);
  if (waiting) pa_mainloop_get_api(loop)->io_new(pa_mainloop_get_api(loop), STDIN_FILENO, PA_IO_EVENT_INPUT, go, NULL);
  if (pa_context_connect(context, NULL, PA_CONTEXT_NOAUTOSPAWN, NULL) < 0) fail("connect", context);
  int result = 0;
  pa_mainloop_run(loop, &result);
  return result;
}
