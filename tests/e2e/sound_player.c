/* Plays a tone on the default sink of the PulseAudio server in the
 * environment and says when it is heard.
 *
 *   sound-player <lead seconds> <tone seconds> <hertz> [<tail seconds>]
 *
 * Plays <lead> seconds of silence, then a sine of amplitude 0.5 at <hertz>
 * on both channels for <tone> seconds, then <tail> seconds of silence (0 when
 * left out). Prints "ready" once the stream plays, then, as the tone is
 * queued, the time at which its first frame will be heard on CLOCK_MONOTONIC
 * and on the wall clock, "%.6f %.6f\n", then "done" after the tail has
 * played. */
#include <math.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define RATE 48000
#define BLOCK 480 /* frames: 10 ms */

static double now(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: sound-player <lead seconds> <tone seconds> <hertz> [<tail seconds>]\n");
    return 2;
  }
  long lead = lround(atof(argv[1]) * RATE), tone = lround(atof(argv[2]) * RATE);
  double hertz = atof(argv[3]);
  long tail = argc > 4 ? lround(atof(argv[4]) * RATE) : 0;
  setvbuf(stdout, NULL, _IOLBF, 0);

  pa_sample_spec spec = {PA_SAMPLE_FLOAT32LE, RATE, 2};
  /* A short buffer, so that what is written now is heard soon. */
  pa_buffer_attr attributes = {(uint32_t)-1, (uint32_t)(40 * RATE / 1000 * 8), (uint32_t)-1, (uint32_t)-1,
                               (uint32_t)-1};
  int error = 0;
  pa_simple* player = pa_simple_new(NULL, "sound-player", PA_STREAM_PLAYBACK, NULL, "tone", &spec, NULL,
                                    &attributes, &error);
  if (!player) {
    fprintf(stderr, "sound-player: %s\n", pa_strerror(error));
    return 1;
  }
  printf("ready\n");
  float block[2 * BLOCK];
  for (long frame = 0; frame < lead + tone + tail; frame += BLOCK) {
    if (frame <= lead && lead < frame + BLOCK) {
      double ahead = (double)pa_simple_get_latency(player, &error) / 1e6 + (double)(lead - frame) / RATE;
      printf("%.6f %.6f\n", now(CLOCK_MONOTONIC) + ahead, now(CLOCK_REALTIME) + ahead);
    }
    for (long k = 0; k < BLOCK; k++) {
      long f = frame + k;
      float v = f >= lead && f < lead + tone ? (float)(0.5 * sin(2 * M_PI * hertz * (double)(f - lead) / RATE)) : 0;
      block[2 * k] = block[2 * k + 1] = v;
    }
    if (pa_simple_write(player, block, sizeof block, &error) < 0) {
      fprintf(stderr, "sound-player: %s\n", pa_strerror(error));
      return 1;
    }
  }
  pa_simple_drain(player, &error);
  pa_simple_free(player);
  printf("done\n");
  return 0;
}
