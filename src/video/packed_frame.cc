#include "video/packed_frame.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Below this many unchanged bytes in a row, changed rows are taken whole:
// short shared pieces would cost the reader more than copying them.
constexpr size_t minShared = 1024;

// `first` + `count`, no further than `limit`.
size_t clipped(size_t first, size_t count, size_t limit) { return count > limit - first ? limit : first + count; }

}  // namespace

// Lays out a frame's spans in order, merging neighbours in one piece of memory.
class PackedFrame::Builder {
 public:
  Builder(const PackedFrame& previous, PackedFrame& into)
      : previous_(previous), into_(into), moved_(previous.memory_.size(), none) {}

  // The previous frame's bytes from `from` up to `to`.
  void share(size_t from, size_t to) {
    auto& starts = previous_.starts_;
    while (next_ + 1 < starts.size() && starts[next_ + 1] <= from) next_++;
    for (size_t i = next_; from < to; i++) {
      const iovec& span = previous_.spans_[i];
      size_t end = starts[i] + span.iov_len;
      if (end <= from) continue;
      size_t bytes = std::min(end, to) - from;
      add(static_cast<uint8_t*>(span.iov_base) + (from - starts[i]), bytes, memoryOf(previous_.owners_[i]));
      from += bytes;
    }
  }

  // New bytes in memory of the frame's own.
  void own(uint8_t* data, size_t bytes, const std::shared_ptr<const FrameBytes>& memory) {
    if (own_ == none) {
      own_ = into_.memory_.size();
      into_.memory_.push_back({memory, platform::frameMemoryLength(memory->size())});
    }
    add(data, bytes, own_);
  }

 private:
  static constexpr size_t none = SIZE_MAX;

  size_t memoryOf(size_t previous) {
    if (moved_[previous] == none) {
      moved_[previous] = into_.memory_.size();
      into_.memory_.push_back(previous_.memory_[previous]);
    }
    return moved_[previous];
  }

  void add(uint8_t* data, size_t bytes, size_t owner) {
    if (bytes == 0) return;
    auto& spans = into_.spans_;
    if (!spans.empty() && into_.owners_.back() == owner &&
        static_cast<uint8_t*>(spans.back().iov_base) + spans.back().iov_len == data) {
      spans.back().iov_len += bytes;
    } else {
      into_.starts_.push_back(at_);
      spans.push_back({data, bytes});
      into_.owners_.push_back(owner);
    }
    at_ += bytes;
  }

  const PackedFrame& previous_;
  PackedFrame& into_;
  std::vector<size_t> moved_;  // where each piece of the previous frame's memory went
  size_t own_ = none;
  size_t next_ = 0;
  size_t at_ = 0;
};

std::shared_ptr<const PackedFrame> PackedFrame::pack(const platform::PixelBuffer& pixels, size_t width,
                                                     size_t height) {
  auto frame = std::make_shared<PackedFrame>();
  frame->width_ = width;
  frame->height_ = height;
  frame->size_ = width * height * 4;
  if (frame->size_ == 0) return frame;
  size_t rows = std::min(pixels.height, height);
  size_t columns = std::min(pixels.width, width);
  size_t stride = width * 4;
  // Zero-filled: what the buffer does not cover stays zero.
  auto memory = std::make_shared<FrameBytes>(frame->size_);
  for (size_t r = 0; r < rows; r++)
    copyRow(memory->data() + r * stride, pixels.baseAddress + r * pixels.bytesPerRow, columns * 4);
  frame->spans_ = {{memory->data(), memory->size()}};
  frame->starts_ = {0};
  frame->owners_ = {0};
  frame->memory_ = {{memory, platform::frameMemoryLength(memory->size())}};
  return frame;
}

std::shared_ptr<const PackedFrame> PackedFrame::adopt(const platform::PixelBuffer& pixels, size_t width,
                                                      size_t height) {
  if (!pixels.keepable || !pixels.owner || pixels.width != width || pixels.height != height ||
      pixels.bytesPerRow != width * 4 || width * height == 0)
    return nullptr;
  auto frame = std::make_shared<PackedFrame>();
  frame->width_ = width;
  frame->height_ = height;
  frame->size_ = width * height * 4;
  frame->spans_ = {{const_cast<uint8_t*>(pixels.baseAddress), frame->size_}};
  frame->starts_ = {0};
  frame->owners_ = {0};
  frame->memory_ = {{pixels.owner, platform::frameMemoryLength(frame->size_)}};
  return frame;
}

std::shared_ptr<const PackedFrame> PackedFrame::update(const std::shared_ptr<const PackedFrame>& previous,
                                                       const platform::PixelBuffer& pixels,
                                                       platform::PixelBox changed) {
  size_t width = previous->width_, height = previous->height_, stride = width * 4;
  size_t rows = std::min(pixels.height, height), columns = std::min(pixels.width, width);
  size_t left = std::min(changed.x, columns), right = clipped(left, changed.width, columns);
  size_t top = std::min(changed.y, rows), bottom = clipped(top, changed.height, rows);
  if (left >= right || top >= bottom) return previous;
  size_t copied = (right - left) * 4;
  if (stride - copied < minShared) left = 0, right = width;
  size_t rowBytes = (right - left) * 4;
  if (left == 0 && right == width) copied = columns * 4;

  auto frame = std::make_shared<PackedFrame>();
  frame->width_ = width;
  frame->height_ = height;
  frame->size_ = previous->size_;
  auto memory = std::make_shared<FrameBytes>(rowBytes * (bottom - top));
  Builder builder(*previous, *frame);
  size_t at = 0;
  for (size_t r = top; r < bottom; r++) {
    builder.share(at, r * stride + left * 4);
    uint8_t* to = memory->data() + (r - top) * rowBytes;
    copyRow(to, pixels.baseAddress + r * pixels.bytesPerRow + left * 4, copied);
    builder.own(to, rowBytes, memory);
    at = r * stride + right * 4;
  }
  builder.share(at, frame->size_);

  // A frame that would keep much more memory alive than its own size (old
  // frames each shared for a sliver), or that lies in many pieces a row, is
  // packed whole instead.
  size_t kept = 0;
  for (auto& m : frame->memory_) kept += m.length;
  if (kept > 2 * platform::frameMemoryLength(frame->size_) || frame->spans_.size() > 4 * height + 1)
    return pack(pixels, width, height);
  return frame;
}

std::vector<uint8_t> PackedFrame::bytes() const {
  std::vector<uint8_t> all;
  all.reserve(size_);
  for (auto& span : spans_) {
    auto* data = static_cast<const uint8_t*>(span.iov_base);
    all.insert(all.end(), data, data + span.iov_len);
  }
  return all;
}
