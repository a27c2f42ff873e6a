#include "sound/description.h"

#include <charconv>
#include <cmath>

namespace {

// The shortest digits that read back as `value`, written out in full from
// 1e-4 up to 2^53 (where every whole number is still exact), in exponent
// form beyond; to_chars alone picks whichever text is shorter (1e+05).
std::string shortest(double value) {
  double magnitude = std::fabs(value);
  bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude <= 0x1p53);
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, value,
                           plain ? std::chars_format::fixed : std::chars_format::scientific)
                 .ptr;
  std::string written(text, end);
  if (written.find_first_not_of("-0123456789") == std::string::npos) written += ".0";
  return written;
}

}  // namespace

std::string describe(const platform::AudioStreamBasicDescription& format) {
  return "AudioStreamBasicDescription(mSampleRate: " + shortest(format.mSampleRate) +
         ", mFormatID: " + std::to_string(format.mFormatID) +
         ", mFormatFlags: " + std::to_string(format.mFormatFlags) +
         ", mBytesPerPacket: " + std::to_string(format.mBytesPerPacket) +
         ", mFramesPerPacket: " + std::to_string(format.mFramesPerPacket) +
         ", mBytesPerFrame: " + std::to_string(format.mBytesPerFrame) +
         ", mChannelsPerFrame: " + std::to_string(format.mChannelsPerFrame) +
         ", mBitsPerChannel: " + std::to_string(format.mBitsPerChannel) +
         ", mReserved: " + std::to_string(format.mReserved) + ")";
}
