// How an audio format reads in the tool's messages.
#pragma once

#include <string>

#include "platform/sample.h"

// "AudioStreamBasicDescription(mSampleRate: 44100.0, mFormatID: ..., mReserved: 0)":
// the nine fields in declaration order, integers in decimal, the rate as the
// shortest text that reads back as the same double, whole numbers with ".0";
// the exponent form only below 1e-4 and above 2^53 (100000.0, 1e+16).
std::string describe(const platform::AudioStreamBasicDescription& format);
