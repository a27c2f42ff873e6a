#include "front/options.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Args = std::vector<std::string>;
constexpr uint32_t mainDisplay = 69733382;

TEST(Options, DefaultsHoldTheMainDisplayAndThirtyFramesPerSecond) {
  Options o = parse({}, mainDisplay);
  EXPECT_EQ(o.display, mainDisplay);
  EXPECT_EQ(o.fps, 30);
  EXPECT_FALSE(o.crop || o.window || o.size || o.out || o.cursor || o.verbose);
  EXPECT_TRUE(o.excluded.empty());
}

TEST(Options, ReadsEveryValue) {
  Options o = parse({"--display", "-0", "--fps", "+12", "--cursor", "--verbose", "--exclude-pid", "12",
                     "--exclude-pid", "-34", "--exclude-pid", "12", "--window", "4294967295", "--size",
                     ",1280,,720,", "--crop", "10,10,-50,-20", "--out", "--verbose", "--fps", "60"},
                    mainDisplay);
  EXPECT_EQ(o.display, 0u);
  EXPECT_EQ(o.fps, 60);
  EXPECT_TRUE(o.cursor);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.excluded, (std::set<int32_t>{-34, 12}));
  EXPECT_EQ(o.window, 4294967295u);
  EXPECT_EQ(o.size, (Size{1280, 720}));
  EXPECT_EQ(o.crop, (platform::Rect{10, 10, -50, -20}));
  EXPECT_EQ(o.out, "--verbose");
}

TEST(Options, OutTakesTheNextArgumentWhateverItIs) {
  Options o = parse({"--out", "--verbose"}, mainDisplay);
  EXPECT_EQ(o.out, "--verbose");
  EXPECT_FALSE(o.verbose);
}

TEST(Options, NumberListsDropUnreadablePieces) {
  struct Case {
    std::string text;
    Size size;
  } cases[] = {
      {"1280,720", {1280, 720}},
      {"1280,abc,720", {1280, 720}},
      {",1280,,720,", {1280, 720}},
      {"0x10,2.5e2", {16, 250}},
      {"1280, 720,720", {1280, 720}},  // a piece that starts with a space is not read
      {"2,2", {2, 2}},
  };
  for (auto& c : cases) EXPECT_EQ(parse({"--size", c.text}, mainDisplay).size, c.size) << c.text;
  EXPECT_EQ(parse({"--crop", "0,0,100,50"}, mainDisplay).crop, (platform::Rect{0, 0, 100, 50}));
}

// Every refusal: the exact line on standard error and exit code 2.
struct Refusal {
  Args arguments;
  std::string message;
  Job job = Job::video;
};

std::string escaped(std::string text) {
  std::string out;
  for (char c : text) {
    if (strchr("\\^$.|?*+()[]{}", c)) out += '\\';
    out += c;
  }
  return out;
}

class OptionRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(OptionRefusal, EndsWithItsMessage) {
  auto& r = GetParam();
  EXPECT_EXIT(parse(r.arguments, mainDisplay, r.job), testing::ExitedWithCode(2),
              "^pellix-capture: " + escaped(r.message) + "\n$");
}

std::vector<Refusal> refusals() {
  std::vector<Refusal> list = {
      {{"--display"}, "--display needs a display id"},
      {{"--display", "-1"}, "--display needs a display id"},
      {{"--display", "4294967296"}, "--display needs a display id"},
      {{"--display", "0x10"}, "--display needs a display id"},
      {{"--display", ""}, "--display needs a display id"},
      {{"--display", "+"}, "--display needs a display id"},
      {{"--fps"}, "--fps needs a number"},
      {{"--fps", "12.5"}, "--fps needs a number"},
      {{"--fps", " 12"}, "--fps needs a number"},
      {{"--fps", "1 000"}, "--fps needs a number"},
      {{"--fps", "99999999999999999999"}, "--fps needs a number"},
      // Rates the tick cannot keep: not positive, or beyond 32 bits.
      {{"--fps", "0"}, "--fps needs a number"},
      {{"--fps", "-5"}, "--fps needs a number"},
      {{"--fps", "2147483648"}, "--fps needs a number"},
      {{"--exclude-pid"}, "--exclude-pid needs a process id"},
      {{"--exclude-pid", "2147483648"}, "--exclude-pid needs a process id"},
      {{"--exclude-pid", "pid"}, "--exclude-pid needs a process id"},
      {{"--window"}, "--window needs a window id"},
      {{"--window", "-7"}, "--window needs a window id"},
      {{"--size"}, "--size needs w,h"},
      {{"--size", "1280x720"}, "--size needs w,h"},
      {{"--size", "1,720"}, "--size needs w,h"},
      {{"--size", "nan,720"}, "--size needs w,h"},
      {{"--size", "1280,720,3"}, "--size needs w,h"},
      {{"--size", "inf,720"}, "--size needs w,h"},
      {{"--size", "1e300,720"}, "--size needs w,h"},
      {{"--crop"}, "--crop needs x,y,w,h"},
      {{"--crop", "0,0,100"}, "--crop needs x,y,w,h"},
      {{"--crop", "0,0,100,inf"}, "--crop needs x,y,w,h"},
      {{"--crop", "nan,0,100,50"}, "--crop needs x,y,w,h"},
      {{"--out"}, "--out needs a file"},
      {{"-h"}, "unknown argument -h"},
      {{"--help"}, "unknown argument --help"},
      {{"--Display"}, "unknown argument --Display"},
      {{"--fps=30"}, "unknown argument --fps=30"},
      {{"video"}, "unknown argument video"},
      {{"--window", "7"}, "--window needs --size"},
      {{"--window", "7"}, "shot needs --out <file.png>", Job::shot},
      {{}, "shot needs --out <file.png>", Job::shot},
      // The first failing argument decides; the final checks come last.
      {{"--fps", "x", "--bogus"}, "--fps needs a number"},
      {{"--window", "7", "--bogus"}, "unknown argument --bogus"},
  };
  return list;
}

INSTANTIATE_TEST_SUITE_P(Table, OptionRefusal, testing::ValuesIn(refusals()));

TEST(Options, AWindowWithoutSizePassesForAudioShotAndList) {
  EXPECT_EQ(parse({"--window", "7"}, mainDisplay, Job::audio).window, 7u);
  EXPECT_EQ(parse({"--window", "7", "--out", "a.png"}, mainDisplay, Job::shot).window, 7u);
  EXPECT_EQ(parse({"--window", "7"}, mainDisplay, Job::list).window, 7u);
}

}  // namespace
