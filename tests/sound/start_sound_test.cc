#include "sound/start_sound.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/fake/fake_capture.h"
#include "platform/image/png_files.h"
#include "front/dispatch.h"
#include "support/captured.h"

namespace {

using platform::ContentFilter;
using platform::Error;
using platform::OutputType;

// A capture service whose streams refuse what the test says, and whose host
// clock steps by a quarter second at each reading.
class ScriptedCapture : public platform::FakeCapture {
 public:
  std::unique_ptr<platform::Stream> makeStream(const ContentFilter& filter,
                                               const platform::StreamConfiguration& configuration,
                                               platform::StreamDelegate& delegate) override {
    auto stream = FakeCapture::makeStream(filter, configuration, delegate);
    static_cast<platform::FakeStream*>(stream.get())->addOutputError = addOutputError;
    static_cast<platform::FakeStream*>(stream.get())->startError = startError;
    return std::make_unique<Counted>(std::move(stream), starts);
  }
  double hostNow() override { return stepping ? host.exchange(host + 0.25) : host.load(); }

  std::optional<Error> addOutputError, startError;
  bool stepping = false;
  std::atomic<int> starts = 0;  // counted here: a refused stream is gone before the test looks

 private:
  struct Counted : platform::Stream {
    Counted(std::unique_ptr<platform::Stream> inner, std::atomic<int>& starts) : inner(std::move(inner)), starts(starts) {}
    std::optional<Error> addStreamOutput(platform::StreamOutput& output, OutputType type,
                                         std::shared_ptr<platform::SerialQueue> queue) override {
      return inner->addStreamOutput(output, type, std::move(queue));
    }
    void startCapture(Completion completion) override {
      starts++;
      inner->startCapture(std::move(completion));
    }
    void stopCapture(Completion completion) override { inner->stopCapture(std::move(completion)); }
    std::unique_ptr<platform::Stream> inner;
    std::atomic<int>& starts;
  };
};

class StartSoundTest : public testing::Test {
 protected:
  void SetUp() override {
    fake.content.displays = {display};
    fake.content.applications = {{10, "Alpha"}, {20, "Beta \"B\""}, {30, "Gamma"}};
    platform::Window owned, orphan;
    owned.windowID = 100;
    owned.owningApplication = platform::RunningApplication{20, "Beta \"B\""};
    orphan.windowID = 101;
    fake.content.windows = {orphan, owned};
    options = Options{};
    options.display = display.displayID;
  }
  void TearDown() override {
    sounding.reset();  // stops the sound queue before the fake goes
  }

  void startSound() { ::startSound(options, fake, fake.content, display); }

  platform::Display display{7, 1440, 900, "main", 0, 0};
  ScriptedCapture fake;
  Options options;
  Captured captured;  // standard output and error, while the test runs
};

TEST_F(StartSoundTest, ChoosesTheTargetAndSaysWhatItRecords) {
  struct Case {
    std::set<int32_t> excluded;
    std::optional<uint32_t> window;
    ContentFilter::Kind kind;
    std::vector<int32_t> applications;
    std::string line;
  } cases[] = {
      {{}, {}, ContentFilter::Kind::displayExcluding, {}, "recording the sound, leaving out []"},
      {{30, 999, 10}, {}, ContentFilter::Kind::displayExcluding, {10, 30},
       "recording the sound, leaving out [\"Alpha\", \"Gamma\"]"},
      {{20}, {}, ContentFilter::Kind::displayExcluding, {20}, "recording the sound, leaving out [\"Beta \\\"B\\\"\"]"},
      {{10, 20}, 100, ContentFilter::Kind::displayIncluding, {20}, "recording the sound of Beta \"B\""},
      {{10}, 101, ContentFilter::Kind::displayExcluding, {10}, "recording the sound, leaving out [\"Alpha\"]"},
      {{}, 555, ContentFilter::Kind::displayExcluding, {}, "recording the sound, leaving out []"},
  };
  for (auto& c : cases) {
    TearDown();
    SetUp();
    for (int fd : {1, 2}) Captured::clear(fd);
    options.verbose = true;
    options.excluded = c.excluded;
    options.window = c.window;
    startSound();
    auto& filter = fake.lastStream()->filter;
    EXPECT_EQ(filter.kind, c.kind) << c.line;
    EXPECT_EQ(filter.display.displayID, 7u);
    std::vector<int32_t> ids;
    for (auto& application : filter.applications) ids.push_back(application.processID);
    EXPECT_EQ(ids, c.applications) << c.line;
    EXPECT_EQ(Captured::text(2), "start 1700000000.000000\npellix-capture: " + c.line + "\n");
  }
}

TEST_F(StartSoundTest, ConfiguresTwoByTwoPixelsOncePerSecondWithStereoSound) {
  startSound();
  platform::StreamConfiguration expected;
  expected.capturesAudio = true;
  expected.sampleRate = 48000;
  expected.channelCount = 2;
  expected.excludesCurrentProcessAudio = true;
  expected.width = 2;
  expected.height = 2;
  expected.minimumFrameInterval = {1, 1};
  expected.showsCursor = false;
  auto& configuration = fake.lastStream()->configuration;
  EXPECT_EQ(configuration.capturesAudio, expected.capturesAudio);
  EXPECT_EQ(configuration.sampleRate, expected.sampleRate);
  EXPECT_EQ(configuration.channelCount, expected.channelCount);
  EXPECT_EQ(configuration.excludesCurrentProcessAudio, expected.excludesCurrentProcessAudio);
  EXPECT_EQ(configuration.width, 2);
  EXPECT_EQ(configuration.height, 2);
  EXPECT_EQ(configuration.minimumFrameInterval.value, 1);
  EXPECT_EQ(configuration.minimumFrameInterval.timescale, 1);
  EXPECT_FALSE(configuration.showsCursor);
  // The rest keeps its defaults.
  EXPECT_EQ(configuration.sourceRect, expected.sourceRect);
  EXPECT_EQ(configuration.pixelFormat, expected.pixelFormat);
  EXPECT_EQ(configuration.colorSpaceName, expected.colorSpaceName);
  EXPECT_EQ(configuration.queueDepth, expected.queueDepth);
  EXPECT_EQ(configuration.ignoreShadowsSingleWindow, expected.ignoreShadowsSingleWindow);
  EXPECT_EQ(configuration.preservesAspectRatio, expected.preservesAspectRatio);
}

TEST_F(StartSoundTest, BothOutputsAndTheTimerShareTheSoundQueue) {
  startSound();
  auto* stream = fake.lastStream();
  EXPECT_TRUE(stream->started);
  ASSERT_EQ(stream->outputs.size(), 2u);
  EXPECT_EQ(stream->outputs[0].type, OutputType::audio);
  EXPECT_EQ(stream->outputs[1].type, OutputType::screen);
  EXPECT_EQ(stream->outputs[0].queue, stream->outputs[1].queue);
  EXPECT_EQ(stream->outputs[0].queue->label(), "pellix.sound");
  EXPECT_EQ(stream->outputs[0].output, stream->outputs[1].output);
  EXPECT_EQ(&stream->delegate, static_cast<platform::StreamDelegate*>(sounding->sound.get()));
  EXPECT_EQ(sounding->timer, stream->outputs[0].queue);

  // A second of host time later, the timer has filled it with silence.
  fake.host = fake.host + 1;
  for (int i = 0; i < 200 && Captured::text(1).size() < 8 * 46560; i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(Captured::text(1), std::string(8 * 46560, '\0'));
}

// `frames` stereo frames for output frame `first` on: left = frame + 1,
// right = -(frame + 1).
platform::SampleBuffer counted(double time, int64_t first, int64_t frames) {
  auto data = std::make_shared<std::vector<float>>();
  for (int64_t k = first; k < first + frames; k++) {
    data->push_back(float(k + 1));
    data->push_back(-float(k + 1));
  }
  platform::SampleBuffer sample;
  sample.audioDescription = platform::AudioStreamBasicDescription{
      48000, platform::formatLinearPCM, platform::formatFlagIsFloat | platform::formatFlagIsPacked, 8, 1, 8, 2, 32, 0};
  sample.numSamples = frames;
  sample.presentationTime = time;
  sample.audioBufferList = std::vector<platform::AudioBuffer>{{data->data(), data->size() * 4, 2}};
  sample.owner = data;
  return sample;
}

TEST_F(StartSoundTest, AReaderThatStopsReadingHoldsBackASecondOfSoundAndIsInTimeAgainAfter) {
  // Standard output is a pipe of one page that nobody reads for now.
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  fcntl(ends[1], F_SETPIPE_SZ, 4096);
  dup2(ends[1], 1);
  close(ends[1]);
  double origin = fake.host;
  startSound();
  auto* stream = fake.lastStream();

  // Ten seconds of 10 ms chunks come meanwhile.
  constexpr int64_t chunk = 480;
  std::vector<std::weak_ptr<const void>> chunks;
  for (int64_t k = 0; k < 1000; k++) {
    auto sample = counted(origin + double(k) / 100, k * chunk, chunk);
    chunks.push_back(sample.owner);
    stream->post(sample, OutputType::audio);
  }
  // Only what waits for the writer is held: the newest second of chunks, and
  // the one being written.
  auto held = std::count_if(chunks.begin(), chunks.end(), [](auto& c) { return !c.expired(); });
  EXPECT_LE(held, 101);

  // The reader comes back ten seconds on, as the clock stands 30 ms past the
  // next chunk's end: the writer may fill silence up to its start.
  fake.host = origin + 10.02;
  std::mutex lock;
  std::string bytes;
  std::thread reader([&, in = ends[0]] {
    char piece[65536];
    ssize_t n;
    while ((n = read(in, piece, sizeof piece)) > 0) {
      std::lock_guard guard(lock);
      bytes.append(piece, size_t(n));
    }
  });
  // Once what waited has been written, the clock is kept, then the next
  // chunk comes: sound goes on at its time.
  auto received = [&](size_t size) {
    for (int i = 0; i < 500; i++) {
      {
        std::lock_guard guard(lock);
        if (bytes.size() >= size) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  received(1000 * chunk * 8);
  sounding->timer->async([&] { sounding->sound->keepTime(fake.host); });
  stream->deliver(counted(origin + 10, 1000 * chunk, chunk), OutputType::audio);
  const size_t total = 1001 * chunk * 8;
  received(total);
  int quiet = memfd_create("captured", 0);
  dup2(quiet, 1);  // the pipe's last writer goes: the reader meets its end
  close(quiet);
  reader.join();
  close(ends[0]);

  ASSERT_EQ(bytes.size(), total);
  std::vector<float> frames(bytes.size() / 4);
  memcpy(frames.data(), bytes.data(), bytes.size());
  // Every frame is silence or the sound of its own time, and the sound of
  // the newest second of chunks, which waited, is there.
  int64_t heard = 0;
  for (int64_t f = 0; f < 1001 * chunk; f++) {
    float left = frames[size_t(2 * f)], right = frames[size_t(2 * f + 1)];
    ASSERT_TRUE((left == 0 && right == 0) || (left == float(f + 1) && right == -float(f + 1))) << "frame " << f;
    heard += left != 0;
  }
  EXPECT_GE(heard, 100 * chunk);
  EXPECT_EQ(frames[2 * (1000 * chunk - 1)], float(1000 * chunk));
  EXPECT_EQ(frames[2 * 1000 * chunk], float(1000 * chunk + 1));
}

TEST_F(StartSoundTest, TheStartLineGivesTheWallClockTimeOfFrameZero) {
  fake.stepping = true;
  fake.wall = 1700000000.5;
  startSound();
  // Frame 0 is the first host reading; the line's host reading came a quarter second later.
  EXPECT_EQ(Captured::text(2), "start 1700000000.250000\n");
}

TEST_F(StartSoundTest, RefusalsComeBackWithoutAStartLine) {
  fake.addOutputError = Error{platform::failedToStart, "no output"};
  try {
    startSound();
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.code, platform::failedToStart);
    EXPECT_EQ(error.description, "no output");
  }
  EXPECT_EQ(fake.starts, 0);

  fake.addOutputError.reset();
  fake.startError = Error{platform::userDeclined, "declined"};
  EXPECT_THROW(startSound(), Error);
  EXPECT_EQ(Captured::text(2), "");
  EXPECT_EQ(Captured::text(1), "");
  EXPECT_FALSE(sounding);
}

TEST_F(StartSoundTest, ADeclinedStartEndsWithThreeThroughTheDriver) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    int64_t code;
    int exit;
  } cases[] = {{platform::userDeclined, 3}, {platform::failedToStart, 2}};
  for (auto& c : cases) {
    fake.startError = Error{c.code, "the user declined"};
    EXPECT_EXIT(
        {
          captured.restore();
          platform::PngFiles pngs;
          runCaptureJob(Job::audio, options, fake, pngs);
        },
        testing::ExitedWithCode(c.exit), "^pellix-capture: the capture could not start: the user declined\n$");
  }
}

}  // namespace
