#include "video/frames.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "front/diagnostics.h"

namespace {

// Copies one row with stores that go around the cache: a frame is written
// once here and read next by the kernel when the reader takes it, so caching
// it would only push out what the capture is working on.
void copyRow(uint8_t* to, const uint8_t* from, size_t bytes) {
#ifdef __SSE2__
  size_t head = (16 - reinterpret_cast<uintptr_t>(to) % 16) % 16;
  if (head > bytes) head = bytes;
  memcpy(to, from, head);
  size_t i = head;
  for (; i + 64 <= bytes; i += 64) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 16));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 32));
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + i), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 48), d);
  }
  memcpy(to + i, from + i, bytes - i);
#else
  memcpy(to, from, bytes);
#endif
}

}  // namespace

Frames::Frames(int64_t width, int64_t height, bool verbose) : width(width), height(height), verbose_(verbose) {}

Frame Frames::newest() {
  std::lock_guard guard(lock_);
  return latest_;
}

bool Frames::latestIsEmpty() {
  std::lock_guard guard(lock_);
  return !latest_;
}

void Frames::stream(platform::Stream&, const platform::SampleBuffer& sample, platform::OutputType type) {
  if (!platform::isCompleteScreenFrame(sample, type)) return;
  if (!sample.imageBuffer) return;
  const platform::PixelBuffer& pixels = *sample.imageBuffer;
  if (!pixels.baseAddress) return;

  if (latestIsEmpty()) say(verbose_, "first frame");

  size_t rows = std::min<size_t>(pixels.height, size_t(height));
  size_t columns = std::min<size_t>(pixels.width, size_t(width));
  size_t stride = size_t(width) * 4;
  // Zero-filled: what the buffer does not cover stays zero.
  auto frame = std::make_shared<FrameBytes>(size_t(width) * size_t(height) * 4);
  if (!frame->empty())
    for (size_t r = 0; r < rows; r++)
      copyRow(frame->data() + r * stride, pixels.baseAddress + r * pixels.bytesPerRow, columns * 4);

#ifdef __SSE2__
  _mm_sfence();  // the streamed stores land before another thread reads the frame
#endif
  std::lock_guard guard(lock_);
  latest_ = std::move(frame);
}

void Frames::streamDidStop(platform::Stream&, const platform::Error& error) {
  fail(2, "the capture stopped: " + error.description);
}
