#include "sound/description.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The rate as the description writes it: the shortest digits that read back
// as the same double, whole numbers with ".0", the exponent form only for
// magnitudes below 1e-4 or above 2^53.
TEST(Description, WritesTheRateInItsShortestPlainForm) {
  struct Case {
    double rate;
    const char* text;
  } cases[] = {
      {44100, "44100.0"},
      {48000, "48000.0"},
      {100000, "100000.0"},
      {1000000, "1000000.0"},
      {200000, "200000.0"},
      {1e15, "1000000000000000.0"},
      {0x1p53, "9007199254740992.0"},
      {0x1p53 + 2, "9.007199254740994e+15"},
      {1e16, "1e+16"},
      {22050.5, "22050.5"},
      {48000.000001, "48000.000001"},
      {0.1, "0.1"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {0, "0.0"},
      {-0.0, "-0.0"},
      {-96000, "-96000.0"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {std::nan(""), "nan"},
  };
  for (auto& c : cases) {
    platform::AudioStreamBasicDescription format;
    format.mSampleRate = c.rate;
    EXPECT_EQ(describe(format),
              std::string("AudioStreamBasicDescription(mSampleRate: ") + c.text +
                  ", mFormatID: 0, mFormatFlags: 0, mBytesPerPacket: 0, mFramesPerPacket: 0, mBytesPerFrame: 0, "
                  "mChannelsPerFrame: 0, mBitsPerChannel: 0, mReserved: 0)")
        << c.text;
  }
}

}  // namespace
