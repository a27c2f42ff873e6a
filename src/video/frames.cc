#include "video/frames.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "front/diagnostics.h"

Frames::Frames(int64_t width, int64_t height, bool verbose) : width(width), height(height), verbose_(verbose) {}

Frame Frames::newest() {
  std::lock_guard guard(lock_);
  return latest_;
}

void Frames::stream(platform::Stream&, const platform::SampleBuffer& sample, platform::OutputType type) {
  if (!platform::isCompleteScreenFrame(sample, type)) return;
  if (!sample.imageBuffer) return;
  const platform::PixelBuffer& pixels = *sample.imageBuffer;
  if (!pixels.baseAddress) return;

  Frame previous = newest();
  if (!previous) say(verbose_, "first frame");

  // What the stream says did not change is shared with the frame before.
  bool sameBuffer = pixels.width == bufferWidth_ && pixels.height == bufferHeight_;
  Frame frame = PackedFrame::adopt(pixels, size_t(width), size_t(height));
  if (!frame)
    frame = previous && sameBuffer && sample.changed ? PackedFrame::update(previous, pixels, *sample.changed)
                                                     : PackedFrame::pack(pixels, size_t(width), size_t(height));
  bufferWidth_ = pixels.width;
  bufferHeight_ = pixels.height;
#ifdef __SSE2__
  _mm_sfence();  // the streamed stores land before another thread reads the frame
#endif
  std::lock_guard guard(lock_);
  latest_ = std::move(frame);
}

void Frames::streamDidStop(platform::Stream&, const platform::Error& error) {
  fail(2, "the capture stopped: " + error.description);
}
