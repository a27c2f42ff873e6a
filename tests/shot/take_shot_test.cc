#include "shot/take_shot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/image/png_files.h"
#include "platform/fake/fake_capture.h"
#include "support/child_output.h"
#include "support/png_chunks.h"
#include "front/dispatch.h"

namespace {

namespace fs = std::filesystem;

// One display of 2880x1800 pixels and 1440x900 points, with one window.
class Shot : public testing::Test {
 protected:
  void SetUp() override {
    fake.mainDisplay = 7;
    fake.content.displays = {{7, 1440, 900, "main", 0, 0}, {8, 640, 480, "plain", 1440, 0}};
    fake.content.applications = {{101, "Terminal"}, {202, "Mail"}};
    fake.content.windows = {{4711, {10, 20, 333.5, 200.25}, "notes", true, fake.content.applications[0]}};
    fake.modes[7] = {2880, 1800};
    // The same folder in a death test's child, which runs this again.
    folder = fs::temp_directory_path() / ("pellix-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(folder);
    out = (folder / "shot.png").string();
  }
  void TearDown() override { fs::remove_all(folder); }

  // Runs the whole shot job as the driver does, its answer going to a file.
  void shoot(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--out", out});
    Options options = parse(arguments, fake.mainDisplay, Job::shot);
    answer.redirect();
    runCaptureJob(Job::shot, options, fake, pngs);
  }
  std::string answerLine() { return answer.text(); }

  platform::FakeCapture fake;
  platform::PngFiles pngs;
  fs::path folder;
  std::string out;
  ChildOutput answer;
};

TEST_F(Shot, ACroppedDisplayAtScaleTwo) {
  EXPECT_EXIT(shoot({"--crop", "100,50,400,300", "--exclude-pid", "202", "--cursor"}), testing::ExitedWithCode(0),
              "^$");
  EXPECT_EQ(answerLine(), "{\"width\":400,\"height\":300,\"scale\":2.0}\n");
  auto facts = pngFacts(out);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 400u);
  EXPECT_EQ(facts->height, 300u);
  EXPECT_EQ(facts->pixelsPerUnitX, 5669u);  // 144 dots per inch
  EXPECT_EQ(facts->pixelsPerUnitY, 5669u);
  EXPECT_EQ(facts->unit, 1);
}

TEST_F(Shot, TheWholeDisplayWithoutModeAtSeventyTwoDotsPerInch) {
  EXPECT_EXIT(shoot({"--display", "8"}), testing::ExitedWithCode(0), "^$");
  EXPECT_EQ(answerLine(), "{\"width\":640,\"height\":480,\"scale\":1.0}\n");
  EXPECT_EQ(pngFacts(out)->pixelsPerUnitX, 2835u);
}

TEST_F(Shot, SetsTheDisplayTarget) {
  Options options = parse({"--out", out, "--crop", "100,50,-10.9,300", "--exclude-pid", "202"}, 7, Job::shot);
  fake.screenshotError = platform::Error{platform::failedToStart, "probe"};
  try {
    takeShot(options, fake, pngs, fake.content, fake.content.displays[0]);
  } catch (const platform::Error&) {
  }
  ASSERT_TRUE(fake.shotConfiguration);
  auto& c = *fake.shotConfiguration;
  EXPECT_EQ(c.sourceRect, (platform::Rect{89.1 / 2, 25, 10.9 / 2, 150}));
  EXPECT_EQ(c.width, 10);  // 10.9 pixels wide gives 10
  EXPECT_EQ(c.height, 300);
  EXPECT_EQ(c.pixelFormat, platform::pixelFormatBGRA);
  EXPECT_FALSE(c.showsCursor);
  EXPECT_EQ(fake.shotFilter->kind, platform::ContentFilter::Kind::displayExcluding);
  ASSERT_EQ(fake.shotFilter->applications.size(), 1u);
  EXPECT_EQ(fake.shotFilter->applications[0].processID, 202);
}

TEST_F(Shot, AWindowAtItsOwnSizeTimesItsScale) {
  struct Case {
    float scale;
    int64_t width, height;
  } cases[] = {{2, 667, 401}, {1.5, 500, 300}, {1, 334, 200}};
  for (auto& c : cases) {
    fake.windowScale = c.scale;
    Options options = parse({"--out", out, "--window", "4711", "--crop", "0,0,5,5"}, 7, Job::shot);
    fake.screenshotError = platform::Error{platform::failedToStart, "probe"};
    try {
      takeShot(options, fake, pngs, fake.content, fake.content.displays[0]);
    } catch (const platform::Error&) {
    }
    EXPECT_EQ(fake.shotConfiguration->width, c.width) << c.scale;
    EXPECT_EQ(fake.shotConfiguration->height, c.height) << c.scale;
    EXPECT_FALSE(fake.shotConfiguration->sourceRect);
    EXPECT_TRUE(fake.shotConfiguration->ignoreShadowsSingleWindow);
    EXPECT_FALSE(fake.shotConfiguration->preservesAspectRatio);
    EXPECT_EQ(fake.shotFilter->window.windowID, 4711u);
  }
  fake.screenshotError.reset();
  fake.windowScale = 2;
  EXPECT_EXIT(shoot({"--window", "4711"}), testing::ExitedWithCode(0), "^$");
  EXPECT_EQ(answerLine(), "{\"width\":667,\"height\":401,\"scale\":2.0}\n");
  EXPECT_EQ(pngFacts(out)->pixelsPerUnitX, 5669u);
}

TEST_F(Shot, FailuresEndWithTheirMessagesAndNothingOnStandardOutput) {
  EXPECT_EXIT(shoot({"--window", "99"}), testing::ExitedWithCode(2),
              "^pellix-capture: there is no window 99 \\(closed, or on another desktop\\)\n$");
  EXPECT_EQ(answerLine(), "");
  out = (folder / "missing" / "shot.png").string();
  EXPECT_EXIT(shoot({}), testing::ExitedWithCode(2), "^pellix-capture: cannot write " + out + "\n$");
  EXPECT_EQ(answerLine(), "");
  fake.screenshotError = platform::Error{platform::userDeclined, "declined"};
  EXPECT_EXIT(shoot({}), testing::ExitedWithCode(3), "^pellix-capture: the capture could not start: declined\n$");
}

TEST_F(Shot, ReplacesAnExistingFileWhole) {
  std::ofstream(out) << "old contents";
  EXPECT_EXIT(shoot({}), testing::ExitedWithCode(0), "^$");
  EXPECT_EQ(pngFacts(out)->width, 2880u);
  int files = 0;
  for (auto& entry : fs::directory_iterator(folder)) files += entry.exists();
  EXPECT_EQ(files, 1);  // no temporary file left behind
}

uint32_t blue(size_t, size_t) { return 0xff0000ffu; }

TEST_F(Shot, WithoutScreenshotsTakesTheFirstCompleteFrameOfAStream) {
  fake.screenshots = false;
  EXPECT_EXIT(
      {
        std::thread frames([this] {
          while (!fake.lastStream() || !fake.lastStream()->started) std::this_thread::yield();
          auto* stream = fake.lastStream();
          stream->deliver(platform::screenSample(30, 20, 120, platform::idle, blue), platform::OutputType::screen);
          stream->deliver(platform::screenSample(30, 20, 128, platform::complete, blue), platform::OutputType::screen);
        });
        frames.detach();
        shoot({"--display", "8"});
      },
      testing::ExitedWithCode(0), "^$");
  EXPECT_EQ(answerLine(), "{\"width\":30,\"height\":20,\"scale\":1.0}\n");
}

}  // namespace
