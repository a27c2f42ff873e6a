#include "sound/sound.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/fake/fake_capture.h"
#include "support/captured.h"

namespace {

using platform::AudioBuffer;
using platform::AudioStreamBasicDescription;
using platform::OutputType;
using platform::SampleBuffer;

constexpr double origin = 500;

AudioStreamBasicDescription floatStereo() {
  return {48000, platform::formatLinearPCM, platform::formatFlagIsFloat | platform::formatFlagIsPacked, 8, 1, 8, 2, 32, 0};
}

// An audio sample whose buffers hold `buffers` (32-bit patterns), `frames` frames long.
SampleBuffer audioSample(double time, int64_t frames, std::vector<std::vector<uint32_t>> buffers,
                         AudioStreamBasicDescription format = floatStereo()) {
  auto memory = std::make_shared<std::vector<std::vector<uint32_t>>>(std::move(buffers));
  SampleBuffer sample;
  sample.audioDescription = format;
  sample.numSamples = frames;
  sample.presentationTime = time;
  sample.audioBufferList.emplace();
  for (auto& b : *memory) sample.audioBufferList->push_back({b.data(), b.size() * 4, format.mChannelsPerFrame});
  sample.owner = memory;
  return sample;
}

// Interleaved stereo frames numbered from `first`: left = first + k, right = -(first + k).
SampleBuffer numbered(double time, int64_t frames, int64_t first = 1) {
  std::vector<uint32_t> data;
  for (int64_t k = 0; k < frames; k++) {
    float left = float(first + k), right = -float(first + k);
    uint32_t l, r;
    memcpy(&l, &left, 4);
    memcpy(&r, &right, 4);
    data.push_back(l);
    data.push_back(r);
  }
  return audioSample(time, frames, {data});
}

double at(int64_t frame) { return origin + double(frame) / 48000; }

// Standard output and error go to memory files while a test runs.
class SoundTest : public testing::Test {
 protected:
  // Standard output as 32-bit patterns, two per frame.
  static std::vector<uint32_t> output() {
    auto bytes = Captured::text(1);
    std::vector<uint32_t> samples(bytes.size() / 4);
    memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
  }
  static std::vector<float> left(const std::vector<uint32_t>& samples) {
    std::vector<float> values;
    for (size_t i = 0; i < samples.size(); i += 2) {
      float v;
      memcpy(&v, &samples[i], 4);
      values.push_back(v);
    }
    return values;
  }
  static std::string errors() { return Captured::text(2); }

  void deliver(const SampleBuffer& sample, OutputType type = OutputType::audio) { sound.stream(stream, sample, type); }

  Captured captured;
  Sound sound{origin};
  platform::FakeStream stream{{}, {}, sound};
};

// Left samples the writer should have produced: `silence` zeros then the
// numbers first..last.
std::vector<float> expected(std::vector<std::pair<int64_t, std::pair<int64_t, int64_t>>> pieces) {
  std::vector<float> values;
  for (auto& [zeros, range] : pieces) {
    values.insert(values.end(), size_t(zeros), 0.0f);
    for (int64_t v = range.first; v <= range.second; v++) values.push_back(float(v));
  }
  return values;
}

TEST_F(SoundTest, ALateFirstBufferComesAfterItsSilence) {
  deliver(numbered(origin + 0.5, 100));
  EXPECT_EQ(sound.written, 24100);
  EXPECT_EQ(left(output()), expected({{24000, {1, 100}}}));
  auto samples = output();
  EXPECT_EQ(samples.size(), 2u * 24100);
  EXPECT_EQ(samples[2 * 24000 + 1], 0xbf800000u);  // -1.0f, the right side of the first frame
}

TEST_F(SoundTest, PlacesBuffersWithinTheSlackAndCutsWhatOverlaps) {
  struct Case {
    int64_t offset;  // from the end of what was written
    int64_t frames;
    std::vector<float> after;  // what follows the first 1000 frames
    int64_t written;
  } cases[] = {
      {480, 600, expected({{0, {1001, 1600}}}), 1600},
      {481, 600, expected({{481, {1001, 1600}}}), 2081},
      {-480, 600, expected({{0, {1001, 1600}}}), 1600},
      {-481, 600, expected({{0, {1482, 1600}}}), 1119},
      {-481, 481, {}, 1000},
      {-2000, 600, {}, 1000},
  };
  for (auto& c : cases) {
    for (int fd : {1, 2}) Captured::clear(fd);
    Sound fresh{origin};
    fresh.stream(stream, numbered(at(0), 1000), OutputType::audio);
    fresh.stream(stream, numbered(at(1000 + c.offset), c.frames, 1001), OutputType::audio);
    auto written = left(output());
    EXPECT_EQ(std::vector<float>(written.begin() + 1000, written.end()), c.after) << c.offset;
    EXPECT_EQ(fresh.written, c.written) << c.offset;
  }
}

TEST_F(SoundTest, CopiesEveryLayoutIntoStereoBitForBit) {
  auto withFormat = [](uint32_t flags, uint32_t channels) {
    auto format = floatStereo();
    format.mFormatFlags = flags;
    format.mChannelsPerFrame = channels;
    return format;
  };
  const uint32_t interleaved = platform::formatFlagIsFloat, planar = interleaved | platform::formatFlagIsNonInterleaved;
  const uint32_t nan = 0x7fa00001;  // a signalling NaN with a payload: copied, not converted
  struct Case {
    const char* name;
    SampleBuffer sample;
    std::vector<uint32_t> frames;
  } cases[] = {
      {"stereo", audioSample(at(0), 2, {{1, 2, nan, 4}}, withFormat(interleaved, 2)), {1, 2, nan, 4}},
      {"mono", audioSample(at(0), 3, {{1, 2, 3}}, withFormat(interleaved, 1)), {1, 1, 2, 2, 3, 3}},
      {"six channels", audioSample(at(0), 2, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}, withFormat(interleaved, 6)),
       {1, 2, 7, 8}},
      {"planar pair", audioSample(at(0), 2, {{1, 2}, {3, 4}}, withFormat(planar, 2)), {1, 3, 2, 4}},
      {"planar single", audioSample(at(0), 2, {{1, 2}}, withFormat(planar, 1)), {1, 1, 2, 2}},
      {"short interleaved", audioSample(at(0), 3, {{1, 2, 3}}, withFormat(interleaved, 2)), {1, 2, 3, 0, 0, 0}},
      {"short six channels", audioSample(at(0), 3, {{1, 2, 3, 4, 5, 6, 7}}, withFormat(interleaved, 6)),
       {1, 2, 7, 0, 0, 0}},
      {"short planar", audioSample(at(0), 3, {{1, 2, 3}, {4}}, withFormat(planar, 2)), {1, 4, 2, 0, 3, 0}},
      {"no channels", audioSample(at(0), 2, {{5, 6}}, withFormat(interleaved, 0)), {5, 5, 5, 5}},
  };
  for (auto& c : cases) {
    for (int fd : {1, 2}) Captured::clear(fd);
    Sound fresh{origin};
    fresh.stream(stream, c.sample, OutputType::audio);
    EXPECT_EQ(output(), c.frames) << c.name;
  }
}

TEST_F(SoundTest, BuffersWithoutDataAreWrittenAsSilence) {
  auto hole = numbered(at(0), 3);
  hole.audioBufferList->at(0).data = nullptr;
  auto noList = numbered(at(3), 2);
  noList.audioBufferList.reset();
  auto emptyList = numbered(at(5), 1);
  emptyList.audioBufferList->clear();
  for (auto& sample : {hole, noList, emptyList}) deliver(sample);
  EXPECT_EQ(output(), std::vector<uint32_t>(12, 0));
  EXPECT_EQ(sound.written, 6);
}

TEST_F(SoundTest, IgnoresScreenInvalidAndUndescribedBuffersSilently) {
  auto invalid = numbered(at(0), 10);
  invalid.isValid = false;
  auto undescribed = numbered(at(0), 10);
  undescribed.audioDescription.reset();
  deliver(numbered(at(0), 10), OutputType::screen);
  deliver(invalid);
  deliver(undescribed);
  EXPECT_EQ(Captured::text(1), "");
  EXPECT_EQ(errors(), "");
  EXPECT_EQ(sound.written, 0);
}

TEST_F(SoundTest, UnreadableFormatsAreSkippedAfterOneLine) {
  auto with = [](auto change) {
    auto format = floatStereo();
    change(format);
    return audioSample(at(0), 2, {{1, 2, 3, 4}}, format);
  };
  SampleBuffer unreadable[] = {
      with([](auto& f) { f.mSampleRate = 44100; }),
      with([](auto& f) { f.mFormatFlags = 0xc; f.mBitsPerChannel = 16; }),
      with([](auto& f) { f.mFormatID = platform::fourCharCode("aac "); }),
      with([](auto& f) { f.mFormatFlags &= ~platform::formatFlagIsFloat; }),
      with([](auto& f) { f.mSampleRate = 48000.000001; }),
      numbered(at(0), 0),
  };
  for (auto& sample : unreadable) deliver(sample);
  EXPECT_EQ(errors(),
            "pellix-capture: sound in a format it does not read: AudioStreamBasicDescription(mSampleRate: 44100.0, "
            "mFormatID: 1819304813, mFormatFlags: 9, mBytesPerPacket: 8, mFramesPerPacket: 1, mBytesPerFrame: 8, "
            "mChannelsPerFrame: 2, mBitsPerChannel: 32, mReserved: 0)\n");
  EXPECT_TRUE(sound.warned);
  EXPECT_EQ(Captured::text(1), "");
  EXPECT_EQ(sound.written, 0);

  // Neither the channel count nor the byte order is asked about.
  auto bigEndian = with([](auto& f) { f.mFormatFlags |= 1u << 1; f.mChannelsPerFrame = 2; });
  deliver(bigEndian);
  EXPECT_EQ(sound.written, 2);
}

TEST_F(SoundTest, AnEmptyBufferIsUnreadableToo) {
  deliver(numbered(at(0), 0));
  EXPECT_EQ(errors().rfind("pellix-capture: sound in a format it does not read: AudioStreamBasicDescription(", 0), 0u);
}

TEST_F(SoundTest, DropsBuffersWhoseTimeCannotBePlaced) {
  double times[] = {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                    1e300, -1e300, origin + 0x1p64 / 48000};
  for (double time : times) deliver(numbered(time, 10));
  sound.keepTime(std::nan(""));
  sound.keepTime(1e300);
  EXPECT_EQ(sound.written, 0);
  EXPECT_EQ(Captured::text(1), "");
  // A buffer far before everything written is covered, not an overflow.
  deliver(numbered(at(0), 10));
  deliver(numbered(origin - 0x1p63 / 48000, 10));
  deliver(numbered(origin - 0x1p62 / 48000, 10));
  EXPECT_EQ(sound.written, 10);
}

TEST_F(SoundTest, KeepTimeFillsSilenceOnlyBeyondTheAllowance) {
  // 60 ms behind is allowed; one frame more and the output is filled up to 30 ms before now.
  sound.keepTime(origin + 0.06);
  EXPECT_EQ(sound.written, 0);
  sound.keepTime(origin + 0.06 + 1.0 / 48000);
  EXPECT_EQ(sound.written, 1441);
  EXPECT_EQ(output(), std::vector<uint32_t>(2 * 1441, 0));

  // Ten seconds with nothing but the timer: the output stays 30 to 70 ms behind.
  for (double now = origin + 0.07; now < origin + 10; now += 0.01) {
    sound.keepTime(now);
    double behind = now - at(sound.written);
    ASSERT_GE(behind, 0.03 - 1e-9) << now;
    ASSERT_LE(behind, 0.07 + 1e-9) << now;
  }
  EXPECT_NEAR(double(sound.written), 48000 * 9.97, 48000 * 0.05);

  // Sound that arrives for time already filled loses what is covered.
  int64_t end = sound.written;
  deliver(numbered(at(end - 1000), 1500));
  EXPECT_EQ(sound.written, end + 500);
  EXPECT_EQ(left(output()).back(), 1500.0f);
  EXPECT_EQ(left(output())[size_t(end)], 1001.0f);
}

TEST_F(SoundTest, AGoneReaderEndsTheProcessWithZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        signal(SIGPIPE, SIG_IGN);
        dup2(readerGone(), 1);
        Sound writer{origin};
        writer.keepTime(origin + 1);
        abort();
      },
      testing::ExitedWithCode(0), "^$");
}

TEST_F(SoundTest, AStoppedStreamEndsTheProcessWithTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        captured.restore();
        sound.streamDidStop(stream, {platform::streamStopped, "Connection terminated"});
      },
      testing::ExitedWithCode(2), "^pellix-capture: the sound capture stopped: Connection terminated\n$");
}

}  // namespace
