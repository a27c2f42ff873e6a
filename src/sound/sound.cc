#include "sound/sound.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "front/diagnostics.h"
#include "sound/description.h"

namespace {

constexpr int64_t silenceBlockFrames = 4800;

int64_t slackFrames() { return int64_t(soundRate * soundSlack); }
int64_t allowanceFrames() { return int64_t(soundRate * (soundBehind - soundLag)); }

bool readable(const platform::AudioStreamBasicDescription& format, int64_t frames) {
  return frames >= 1 && format.mFormatID == platform::formatLinearPCM &&
         (format.mFormatFlags & platform::formatFlagIsFloat) && format.mBitsPerChannel == 32 &&
         format.mSampleRate == soundRate;
}

// Sample `index` of `buffer` as a 32-bit pattern; zero where the buffer ends.
uint32_t sampleAt(const platform::AudioBuffer& buffer, uint64_t index) {
  uint32_t sample = 0;
  if (index < buffer.byteSize / 4) memcpy(&sample, static_cast<const char*>(buffer.data) + index * 4, 4);
  return sample;
}

// n interleaved stereo frames from the buffer list; zeros where it has none.
std::vector<uint32_t> stereo(const platform::SampleBuffer& sample, int64_t n) {
  std::vector<uint32_t> block(size_t(2 * n), 0);
  const auto& list = sample.audioBufferList;
  if (!list || list->empty() || !(*list)[0].data) return block;
  const auto& format = *sample.audioDescription;
  if (format.mFormatFlags & platform::formatFlagIsNonInterleaved) {
    const auto& left = (*list)[0];
    const auto& right = list->size() >= 2 && (*list)[1].data ? (*list)[1] : left;
    for (int64_t k = 0; k < n; k++) {
      block[2 * k] = sampleAt(left, uint64_t(k));
      block[2 * k + 1] = sampleAt(right, uint64_t(k));
    }
    return block;
  }
  const auto& data = (*list)[0];
  uint64_t c = format.mChannelsPerFrame;
  uint64_t d = c > 1 ? 1 : 0;
  // Past this frame every index lies beyond the buffer: the rest stays zero.
  int64_t last = c == 0 ? n : std::min<int64_t>(n, int64_t(data.byteSize / 4 / c + 1));
  for (int64_t k = 0; k < last; k++) {
    block[2 * k] = sampleAt(data, uint64_t(k) * c);
    block[2 * k + 1] = sampleAt(data, uint64_t(k) * c + d);
  }
  return block;
}

}  // namespace

Sound::Sound(double origin) : origin(origin), out(STDOUT_FILENO) {}

std::optional<int64_t> Sound::frameAt(double time) const {
  double frame = std::round((time - origin) * soundRate);
  if (!std::isfinite(frame) || frame < -0x1p63 || frame >= 0x1p63) return std::nullopt;
  return int64_t(frame);
}

void Sound::silence(int64_t frames) {
  static const std::vector<char> zeros(silenceBlockFrames * 8, 0);
  for (int64_t left = frames; left > 0; left -= silenceBlockFrames)
    writeAll(out, zeros.data(), size_t(std::min(left, silenceBlockFrames) * 8));
  if (frames > 0) written += frames;
}

void Sound::stream(platform::Stream&, const platform::SampleBuffer& sample, platform::OutputType type) {
  if (type != platform::OutputType::audio) return;
  if (!sample.isValid || !sample.audioDescription) return;
  int64_t n = sample.numSamples;
  if (!readable(*sample.audioDescription, n)) {
    if (warned) return;
    std::string line =
        "pellix-capture: sound in a format it does not read: " + describe(*sample.audioDescription) + "\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    warned = true;
    return;
  }
  auto block = stereo(sample, n);

  auto pos = frameAt(sample.presentationTime);
  if (!pos) return;
  int64_t gap;
  // So far before everything written that it cannot even be counted: covered.
  if (__builtin_sub_overflow(*pos, written, &gap)) return;
  int64_t skip = 0;
  if (gap > slackFrames()) {
    silence(gap);
  } else if (gap < -slackFrames()) {
    if (gap <= -n) return;
    skip = -gap;
  }
  writeAll(out, block.data() + 2 * skip, size_t(n - skip) * 8);
  written += n - skip;
}

void Sound::streamDidStop(platform::Stream&, const platform::Error& error) {
  fail(2, "the sound capture stopped: " + error.description);
}

void Sound::keepTime(double now) {
  auto due = frameAt(now - soundLag);
  int64_t gap;
  if (!due || __builtin_sub_overflow(*due, written, &gap)) return;
  if (gap > allowanceFrames()) silence(gap);
}
