#include "sound/description.h"

#include <charconv>

namespace {

std::string shortest(double value) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
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
