#include "front/dispatch.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <new>
#include <system_error>

#include "platform/fake/fake_capture.h"
#include "platform/image/png_files.h"
#include "support/captured.h"

namespace {

using platform::ContentFilter;

// A desktop of one 2880x1800-pixel display of 1440 points, three windows and
// three applications.
class Driver : public testing::Test {
 protected:
  void SetUp() override {
    fake.mainDisplay = 69733382;
    fake.content.displays = {{5, 800, 600, "side", 1440, 0}, {69733382, 1440, 900, "main", 0, 0}};
    fake.content.applications = {{101, "Terminal"}, {202, "Web \"Browser\""}, {303, "Mail"}};
    fake.content.windows = {{4711, {10, 20, 333.5, 200.25}, "notes", true, fake.content.applications[0]},
                            {4712, {0, 0, 800, 600}, "web", true, fake.content.applications[1]}};
    fake.modes[69733382] = {2880, 1800};
  }

  // Runs the driver with `arguments`.
  void start(const std::vector<std::string>& arguments) { start(fake, arguments); }
  void start(platform::Capture& capture, const std::vector<std::string>& arguments) {
    Options options = parse(arguments, fake.mainDisplayID());
    options.verbose = true;
    platform::PngFiles pngs;
    runCaptureJob(Job::video, options, capture, pngs);
  }
  // The same; what it said on standard error.
  std::string drive(const std::vector<std::string>& arguments) {
    return captured(2, [&] { start(arguments); });
  }
  platform::FakeStream& stream() { return *fake.lastStream(); }

  platform::FakeCapture fake;
};

TEST_F(Driver, CapturesTheWholeDisplayAtItsPixelSize) {
  std::string said = drive({"--exclude-pid", "303", "--exclude-pid", "202", "--exclude-pid", "999", "--fps", "30"});
  EXPECT_EQ(said,
            "pellix-capture: listing the displays\n"
            "pellix-capture: 2 displays, 3 apps\n"
            "pellix-capture: capturing 2880x1800, leaving out [\"Web \\\"Browser\\\"\", \"Mail\"]\n");
  auto& s = stream();
  EXPECT_TRUE(s.started);
  EXPECT_EQ(s.filter.kind, ContentFilter::Kind::displayExcluding);
  EXPECT_EQ(s.filter.display.displayID, 69733382u);
  ASSERT_EQ(s.filter.applications.size(), 2u);
  EXPECT_EQ(s.filter.applications[0].processID, 202);  // the listing's order
  auto& c = s.configuration;
  EXPECT_EQ(c.width, 2880);
  EXPECT_EQ(c.height, 1800);
  EXPECT_FALSE(c.sourceRect);
  EXPECT_EQ(c.pixelFormat, platform::fourCharCode("BGRA"));
  EXPECT_EQ(c.minimumFrameInterval.value, 1);
  EXPECT_EQ(c.minimumFrameInterval.timescale, 30);
  EXPECT_EQ(c.queueDepth, 6);
  EXPECT_FALSE(c.showsCursor);
  EXPECT_FALSE(c.capturesAudio);
  ASSERT_EQ(s.outputs.size(), 1u);
  EXPECT_EQ(s.outputs[0].type, platform::OutputType::screen);
  EXPECT_EQ(s.outputs[0].queue->label(), "pellix.frames");
}

TEST_F(Driver, CropsInDisplayPixels) {
  struct Case {
    std::string crop;
    std::optional<platform::Rect> source;
    int64_t width, height;
  } cases[] = {
      {"100,100,800,600", platform::Rect{50, 50, 400, 300}, 800, 600},
      {"0,0,100,50", platform::Rect{0, 0, 50, 25}, 100, 50},
      {"100,100,-50,-20", platform::Rect{25, 40, 25, 10}, 50, 20},
      {"0,0,10.9,7.5", platform::Rect{0, 0, 5.45, 3.75}, 10, 7},
  };
  for (auto& c : cases) {
    drive({"--crop", c.crop, "--size", "640,480", "--cursor"});
    EXPECT_EQ(stream().configuration.sourceRect, c.source) << c.crop;
    EXPECT_EQ(stream().configuration.width, c.width) << c.crop;
    EXPECT_EQ(stream().configuration.height, c.height) << c.crop;
    EXPECT_TRUE(stream().configuration.showsCursor);
  }
}

TEST_F(Driver, ADisplayWithoutModeHasScaleOne) {
  drive({"--display", "5", "--crop", "10,10,100,50"});
  EXPECT_EQ(stream().configuration.sourceRect, (platform::Rect{10, 10, 100, 50}));
  drive({"--display", "5"});
  EXPECT_EQ(stream().configuration.width, 800);
  EXPECT_EQ(stream().configuration.height, 600);
}

TEST_F(Driver, CapturesAWindowAtTheRequestedSize) {
  std::string said = drive({"--window", "4711", "--size", "1280.9,720.2", "--crop", "0,0,10,10", "--exclude-pid", "101"});
  EXPECT_NE(said.find("pellix-capture: capturing window 4711 at 1280x720\n"), std::string::npos) << said;
  auto& s = stream();
  EXPECT_EQ(s.filter.kind, ContentFilter::Kind::window);
  EXPECT_EQ(s.filter.window.windowID, 4711u);
  EXPECT_EQ(s.configuration.width, 1280);
  EXPECT_EQ(s.configuration.height, 720);
  EXPECT_FALSE(s.configuration.sourceRect);
  EXPECT_TRUE(s.configuration.preservesAspectRatio);
  EXPECT_TRUE(s.configuration.ignoreShadowsSingleWindow);
}

TEST_F(Driver, EndsWithTheLookupMessages) {
  EXPECT_EXIT(start({"--display", "4000000000"}), testing::ExitedWithCode(2),
              "there is no display 4000000000\n$");
  EXPECT_EXIT(start({"--window", "99", "--size", "10,10"}), testing::ExitedWithCode(2),
              "pellix-capture: there is no window 99 \\(closed, or on another desktop\\)\n$");
}

TEST_F(Driver, StartErrorsEndWithThreeOnlyWhenTheUserDeclined) {
  fake.listingError = platform::Error{platform::userDeclined, "declined"};
  EXPECT_EXIT(start({}), testing::ExitedWithCode(3), "pellix-capture: the capture could not start: declined\n$");
  fake.listingError = platform::Error{platform::failedToStart, "no server"};
  EXPECT_EXIT(start({}), testing::ExitedWithCode(2), "pellix-capture: the capture could not start: no server\n$");
}

// A fake whose streams refuse to start or to take an output.
class RefusingCapture : public platform::FakeCapture {
 public:
  std::unique_ptr<platform::Stream> makeStream(const ContentFilter& f, const platform::StreamConfiguration& c,
                                               platform::StreamDelegate& d) override {
    auto stream = std::make_unique<platform::FakeStream>(f, c, d);
    stream->startError = startError;
    stream->addOutputError = addOutputError;
    return stream;
  }
  std::optional<platform::Error> startError, addOutputError;
};

TEST_F(Driver, StreamErrorsEndTheRun) {
  RefusingCapture refusing;
  refusing.content = fake.content;
  refusing.mainDisplay = fake.mainDisplay;
  refusing.startError = platform::Error{platform::userDeclined, "The user declined TCCs for application, window, display capture"};
  EXPECT_EXIT(start(refusing, {}), testing::ExitedWithCode(3),
              "pellix-capture: the capture could not start: The user declined TCCs for application, window, display "
              "capture\n$");
  refusing.startError.reset();
  refusing.addOutputError = platform::Error{platform::failedToStart, "no output"};
  EXPECT_EXIT(start(refusing, {}), testing::ExitedWithCode(2),
              "pellix-capture: the capture could not start: no output\n$");
}

// A fake that cannot make a stream: the system has no memory or no thread to give.
class FailingCapture : public platform::FakeCapture {
 public:
  std::unique_ptr<platform::Stream> makeStream(const ContentFilter&, const platform::StreamConfiguration&,
                                               platform::StreamDelegate&) override {
    std::rethrow_exception(failure);
  }
  std::exception_ptr failure;
};

TEST_F(Driver, FailuresThatAreNoPlatformErrorsEndEveryJobWithTwo) {
  FailingCapture failing;
  failing.content = fake.content;
  failing.mainDisplay = fake.mainDisplay;
  failing.screenshots = false;  // the shot then takes the first frame of a stream
  struct Case {
    std::exception_ptr failure;
    std::string said;
  } cases[] = {
      {std::make_exception_ptr(std::bad_alloc()), "out of memory"},
      {std::make_exception_ptr(std::system_error(EAGAIN, std::generic_category())), "Resource temporarily unavailable"},
  };
  for (auto& c : cases) {
    failing.failure = c.failure;
    for (Job job : {Job::audio, Job::shot, Job::video}) {
      Options options = parse({"--out", "/nonexistent/shot.png"}, fake.mainDisplayID(), job);
      options.verbose = true;
      platform::PngFiles pngs;
      EXPECT_EXIT(runCaptureJob(job, options, failing, pngs), testing::ExitedWithCode(2),
                  "\npellix-capture: the capture could not start: " + c.said + "\n$");
    }
  }
}

TEST_F(Driver, AThreadTheSystemWillNotGiveEndsTheRunWithTwo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers' own address space is beyond any limit";
#endif
  // A fresh process: no stacks of earlier threads to reuse.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Options options = parse({}, fake.mainDisplayID(), Job::audio);
  options.verbose = true;
  EXPECT_EXIT(
      {
        // Room for a little more heap, none for a thread's stack.
        std::ifstream status("/proc/self/status");
        long kilobytes = 0;
        for (std::string key; status >> key;)
          if (key == "VmSize:" && status >> kilobytes) break;
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = rlim_t(kilobytes + 2048) * 1024;
        setrlimit(RLIMIT_AS, &limit);
        platform::PngFiles pngs;
        runCaptureJob(Job::audio, options, fake, pngs);
      },
      testing::ExitedWithCode(2),
      "\npellix-capture: the capture could not start: cannot start the thread pellix.sound: Resource temporarily "
      "unavailable\n$");
}

}  // namespace
