// Sound placement: whatever buffers arrive, in whatever format, at whatever
// times, and however the clock moves, standard output holds exactly eight
// bytes for every frame counted in `written`, and `written` never decreases.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform/stream.h"
#include "sound/sound.h"
#include "support/captured.h"

namespace {

constexpr double origin = 1000;

// The writer never asks its stream anything.
struct NoStream : platform::Stream {
  std::optional<platform::Error> addStreamOutput(platform::StreamOutput&, platform::OutputType,
                                                 std::shared_ptr<platform::SerialQueue>) override {
    return std::nullopt;
  }
  void startCapture(Completion) override {}
  void stopCapture(Completion) override {}
};

// Host seconds near the recording, or a time no frame can be counted for.
double timeFrom(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 15)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return -1e300;
    default: return origin + input.ConsumeIntegralInRange(-200000, 400000) / 100000.0;
  }
}

platform::AudioStreamBasicDescription formatFrom(FuzzedDataProvider& input) {
  platform::AudioStreamBasicDescription format;
  format.mFormatID = platform::formatLinearPCM;
  format.mFormatFlags = platform::formatFlagIsFloat | platform::formatFlagIsPacked;
  if (input.ConsumeBool()) format.mFormatFlags |= platform::formatFlagIsNonInterleaved;
  format.mBitsPerChannel = 32;
  format.mSampleRate = soundRate;
  format.mChannelsPerFrame = input.ConsumeIntegralInRange<uint32_t>(0, 8);
  if (input.ConsumeIntegralInRange(0, 7) == 0) {  // anything at all
    format.mSampleRate = input.ConsumeFloatingPoint<double>();
    format.mFormatID = input.ConsumeIntegral<uint32_t>();
    format.mFormatFlags = input.ConsumeIntegral<uint32_t>();
    format.mBitsPerChannel = input.ConsumeIntegral<uint32_t>();
    format.mChannelsPerFrame = input.ConsumeIntegral<uint32_t>();
  }
  format.mBytesPerFrame = format.mBytesPerPacket = 4 * format.mChannelsPerFrame;
  format.mFramesPerPacket = 1;
  return format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Captured output{STDOUT_FILENO};
  Captured::clear(STDOUT_FILENO);
  FuzzedDataProvider input(data, size);
  Sound sound(origin);
  NoStream stream;
  int64_t before = 0;
  while (input.remaining_bytes() > 0) {
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
      sound.keepTime(timeFrom(input));
    } else {
      platform::SampleBuffer sample;
      sample.isValid = input.ConsumeIntegralInRange(0, 15) != 0;
      sample.audioDescription = formatFrom(input);
      sample.numSamples = input.ConsumeIntegralInRange<int64_t>(-2, 4096);
      sample.presentationTime = timeFrom(input);
      auto held = std::make_shared<std::vector<std::vector<uint8_t>>>();
      if (input.ConsumeIntegralInRange(0, 15) != 0) {
        sample.audioBufferList.emplace();
        for (int count = input.ConsumeIntegralInRange(0, 3); count > 0; count--) {
          held->push_back(input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 65536)));
          platform::AudioBuffer buffer;
          buffer.byteSize = held->back().size();
          buffer.data = input.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : held->back().data();
          buffer.numberChannels = 1;
          sample.audioBufferList->push_back(buffer);
        }
      }
      sample.owner = held;
      auto type = input.ConsumeIntegralInRange(0, 7) == 0 ? platform::OutputType::screen : platform::OutputType::audio;
      sound.stream(stream, sample, type);
    }
    if (sound.written < before || Captured::size(STDOUT_FILENO) != size_t(sound.written) * 8) abort();
    before = sound.written;
  }
  return 0;
}
