// The shot job through the real binary on a private X server; the files are
// read back with ImageMagick.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "../support/png_chunks.h"
#include "harness.h"
#include "scenes.h"
#include "x11_support.h"

namespace {

using Image = scenes::Picture;
using scenes::opaque;
using scenes::paint;

class Screenshot : public testing::Test {
 protected:
  e2e::Xvfb server{640, 480};
  std::string folder = testing::TempDir() + "pellix-shot-" + std::to_string(getpid());
  std::string out = folder + "/shot.png";

  void SetUp() override { std::filesystem::create_directories(folder); }
  void TearDown() override { std::filesystem::remove_all(folder); }

  e2e::Child::Ending shot(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"shot", "--out", out});
    return e2e::run(arguments, server.environment());
  }

  // The file's pixels as ImageMagick decodes them.
  static Image decoded(const std::string& path) {
    auto facts = pngFacts(path);
    if (!facts) return {};
    Image image{int(facts->width), int(facts->height), {}};
    e2e::Child stream({"stream", "-map", "bgra", "-storage-type", "char", path, "-"});
    image.bytes = stream.readOut(size_t(image.width) * size_t(image.height) * 4);
    EXPECT_EQ(stream.wait().code, 0);
    return image;
  }
};

TEST_F(Screenshot, TheFileHoldsTheExactPixelsAndTheAnswerItsSize) {
  auto red = paint(server, scenes::red);
  auto blue = paint(server, scenes::blue);
  std::ofstream(out) << "an older file, replaced";
  auto ending = shot({});
  ASSERT_EQ(ending.code, 0) << ending.err;
  EXPECT_EQ(ending.err, "");
  EXPECT_EQ(ending.out, "{\"width\":640,\"height\":480,\"scale\":1.0}\n");

  auto facts = pngFacts(out);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->pixelsPerUnitX, 2835u);  // 72 dots per inch
  EXPECT_EQ(facts->pixelsPerUnitY, 2835u);
  EXPECT_EQ(facts->unit, 1);
  EXPECT_EQ(facts->colourType, 3);  // three colours: a palette
  EXPECT_EQ(facts->bitDepth, 2);
  Image image = decoded(out);
  ASSERT_EQ(image.width, 640);
  ASSERT_EQ(image.height, 480);
  EXPECT_EQ(image.others(scenes::red), 0);
  EXPECT_EQ(image.others(scenes::blue), 0);
  EXPECT_NE(image.at(300, 150), opaque(scenes::red.rgb));  // past its corners
  EXPECT_NE(image.at(99, 49), opaque(scenes::red.rgb));
  int transparent = 0;
  for (size_t i = 3; i < image.bytes.size(); i += 4) transparent += uint8_t(image.bytes[i]) != 255;
  EXPECT_EQ(transparent, 0);
  for (auto& entry : std::filesystem::directory_iterator(folder))
    EXPECT_EQ(entry.path().filename(), "shot.png") << "a temporary file was left";
}

TEST_F(Screenshot, AScreenOfManyColoursIsKeptInTrueColourExactly) {
  auto painter = e2e::paintWindow(server, 0, 0, 640, 480, 0x000000);
  x11test::tell(painter, "pattern");
  auto ending = shot({});
  ASSERT_EQ(ending.code, 0) << ending.err;
  auto facts = pngFacts(out);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->colourType, 2);
  EXPECT_EQ(facts->pixelsPerUnitX, 2835u);
  Image image = decoded(out);
  ASSERT_EQ(image.width, 640);
  ASSERT_EQ(image.height, 480);
  int wrong = 0;
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++)
      wrong += !(image.at(x, y) == opaque(uint32_t(x % 256) << 16 | uint32_t(y % 256) << 8 | uint32_t((x + y) / 4 % 256)));
  EXPECT_EQ(wrong, 0);
}

TEST_F(Screenshot, ACropIsNormalisedAndTruncated) {
  auto red = paint(server, scenes::red);  // at 100, 50
  struct Case {
    std::string crop;
    int width, height;
    int redX, redY;  // where the window starts in the picture
  } cases[] = {
      {"120,60,10.9,20.5", 10, 20, 0, 0},
      {"130,40,-50,30", 50, 30, 20, 10},  // from x 80: 20 outside the window, 30 inside
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.crop);
    auto ending = shot({"--crop", c.crop});
    ASSERT_EQ(ending.code, 0) << ending.err;
    EXPECT_EQ(ending.out, "{\"width\":" + std::to_string(c.width) + ",\"height\":" + std::to_string(c.height) +
                              ",\"scale\":1.0}\n");
    Image image = decoded(out);
    ASSERT_EQ(image.width, c.width);
    ASSERT_EQ(image.height, c.height);
    EXPECT_EQ(image.others(c.redX, c.redY, c.width - c.redX, c.height - c.redY, opaque(scenes::red.rgb)), 0);
    if (c.redX > 0) {
      EXPECT_NE(image.at(c.redX - 1, c.redY), opaque(scenes::red.rgb));
    }
    if (c.redY > 0) {
      EXPECT_NE(image.at(c.redX, c.redY - 1), opaque(scenes::red.rgb));
    }
  }
}

TEST_F(Screenshot, AWindowIsTakenAtItsOwnSizeCoveredOrNot) {
  auto green = paint(server, scenes::covered);
  auto id = std::to_string(green.id);
  // --size, --crop and --exclude-pid play no part in a window shot.
  std::vector<std::string> extras = {"--size", "50,50", "--crop", "0,0,5,5", "--exclude-pid",
                                     std::to_string(green.process->pid())};
  for (bool covered : {false, true}) {
    SCOPED_TRACE(covered ? "covered" : "in view");
    std::optional<e2e::PaintedWindow> cover;
    if (covered) cover = paint(server, scenes::cover);
    std::vector<std::string> arguments = {"--window", id};
    if (covered) arguments.insert(arguments.end(), extras.begin(), extras.end());
    auto ending = shot(arguments);
    ASSERT_EQ(ending.code, 0) << ending.err;
    EXPECT_EQ(ending.out, "{\"width\":200,\"height\":100,\"scale\":1.0}\n");
    EXPECT_EQ(pngFacts(out)->pixelsPerUnitX, 2835u);
    Image image = decoded(out);
    ASSERT_EQ(image.width, 200);
    ASSERT_EQ(image.height, 100);
    EXPECT_EQ(image.others(0, 0, 200, 100, opaque(scenes::covered.rgb)), 0);
  }
}

TEST_F(Screenshot, AnExcludedApplicationLeavesWhatIsBeneathVisible) {
  auto below = paint(server, scenes::below);
  auto above = paint(server, scenes::leftOut);
  auto ending = shot({"--exclude-pid", std::to_string(above.process->pid())});
  ASSERT_EQ(ending.code, 0) << ending.err;
  Image image = decoded(out);
  ASSERT_EQ(image.width, 640);
  EXPECT_EQ(image.others(scenes::below), 0);
  EXPECT_EQ(image.others(0, 0, 640, 480, opaque(scenes::leftOut.rgb)), 640 * 480);
}

TEST_F(Screenshot, ThePointerIsDrawnOnlyWithCursor) {
  auto plain = paint(server, scenes::underThePointer);
  for (bool cursor : {false, true}) {
    std::vector<std::string> arguments = {"--crop", scenes::pointerCrop};
    if (cursor) arguments.push_back("--cursor");
    ASSERT_EQ(shot(arguments).code, 0);
    int others = decoded(out).others(0, 0, 40, 40, opaque(scenes::underThePointer.rgb));
    if (cursor)
      EXPECT_GT(others, 10);
    else
      EXPECT_EQ(others, 0);
  }
}

TEST_F(Screenshot, AnUnwritablePathWritesNothing) {
  auto readOnly = folder + "/read-only";
  std::filesystem::create_directories(readOnly);
  // The superuser writes into any folder: for this one the tool runs without
  // privileges, and must get through to it.
  std::filesystem::permissions(folder, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  e2e::makeReadOnly(readOnly);
  std::vector<std::string> paths = {folder + "/missing/shot.png", "/proc/pellix-shot.png", "/dev/full",
                                    readOnly + "/shot.png"};
  for (auto& path : paths) {
    SCOPED_TRACE(path);
    std::vector<std::string> arguments = {"shot", "--out", path};
    auto ending = path.starts_with(readOnly) ? e2e::runUnprivileged(arguments, server.environment())
                                             : e2e::run(arguments, server.environment());
    EXPECT_EQ(ending.code, 2);
    EXPECT_EQ(ending.err, "pellix-capture: cannot write " + path + "\n");
    EXPECT_EQ(ending.out, "");
  }
  // The device was written into, not replaced by a file.
  struct stat device;
  ASSERT_EQ(stat("/dev/full", &device), 0);
  EXPECT_TRUE(S_ISCHR(device.st_mode));
  EXPECT_TRUE(std::filesystem::is_empty(readOnly));
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
  // With its write bit back the same user writes there: the mode stopped it, nothing else.
  chmod(readOnly.c_str(), 0755);
  auto ending = e2e::runUnprivileged({"shot", "--out", readOnly + "/shot.png"}, server.environment());
  EXPECT_EQ(ending.code, 0) << ending.err;
  EXPECT_TRUE(std::filesystem::exists(readOnly + "/shot.png"));
}

TEST_F(Screenshot, AnOutPathThatIsALinkWritesTheFileItPointsTo) {
  namespace fs = std::filesystem;
  fs::create_directories(folder + "/real");
  std::ofstream(folder + "/real/old.png") << "an older file, replaced";
  fs::create_symlink(folder + "/real/old.png", folder + "/absolute.png");
  fs::create_symlink("real/new.png", folder + "/relative.png");  // from the link's folder, to no file yet
  fs::create_symlink("absolute.png", folder + "/chain.png");
  struct Case {
    std::string link, target;
  } cases[] = {
      {folder + "/absolute.png", folder + "/real/old.png"},
      {folder + "/relative.png", folder + "/real/new.png"},
      {folder + "/chain.png", folder + "/real/old.png"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.link);
    if (fs::exists(c.target)) std::ofstream(c.target) << "stale";
    auto pointsTo = fs::read_symlink(c.link);
    auto ending = e2e::run({"shot", "--out", c.link}, server.environment());
    ASSERT_EQ(ending.code, 0) << ending.err;
    ASSERT_TRUE(fs::is_symlink(c.link));
    EXPECT_EQ(fs::read_symlink(c.link), pointsTo);
    EXPECT_EQ(decoded(c.target).width, 640);
  }
  // Written beside the target and renamed there: nothing else is left anywhere.
  std::set<std::string> names;
  for (auto& entry : fs::recursive_directory_iterator(folder)) names.insert(entry.path().lexically_relative(folder));
  EXPECT_EQ(names, (std::set<std::string>{"absolute.png", "relative.png", "chain.png", "real", "real/old.png",
                                          "real/new.png"}));
}

TEST(ScreenshotTerm, SigtermWhileTheFileIsWrittenLeavesNoTemporaryFile) {
  // A large screen of many colours takes a while to encode: time for SIGTERM
  // to land meanwhile.
  e2e::Xvfb server(3840, 2160);
  auto painter = e2e::paintWindow(server, 0, 0, 3840, 2160, 0x000000);
  x11test::tell(painter, "pattern");
  std::string folder = testing::TempDir() + "pellix-shot-term-" + std::to_string(getpid());
  std::filesystem::create_directories(folder);
  int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
  // The file is written aside and renamed into place; a SIGTERM before the
  // rename must take the unfinished file away with the process.
  bool caught = false;
  for (int attempt = 0; attempt < 20 && !caught; attempt++) {
    e2e::Child tool(e2e::tool({"shot", "--out", folder + "/shot.png"}), server.environment());
    bool created = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!created && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{watch, POLLIN, 0};
      if (poll(&ready, 1, 100) != 1) continue;
      alignas(inotify_event) char events[4096];
      ssize_t size = read(watch, events, sizeof events);
      for (char* at = events; at < events + std::max<ssize_t>(size, 0);) {
        auto* event = reinterpret_cast<inotify_event*>(at);
        created = created || std::string(event->name).starts_with(".shot.png.");
        at += sizeof(inotify_event) + event->len;
      }
    }
    ASSERT_TRUE(created) << "no file was begun";
    tool.signal(SIGTERM);
    auto ending = tool.wait();
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.code, 0);
    caught = !std::filesystem::exists(folder + "/shot.png");
    for (auto& entry : std::filesystem::directory_iterator(folder))
      EXPECT_EQ(entry.path().filename(), "shot.png") << "attempt " << attempt;
    std::filesystem::remove(folder + "/shot.png");
  }
  EXPECT_TRUE(caught) << "every SIGTERM came after the file was finished";
  close(watch);
  std::filesystem::remove_all(folder);
}

TEST_F(Screenshot, AMissingWindowOrDisplayWritesNothing) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"--window", "12345"}, "there is no window 12345 (closed, or on another desktop)"},
      {{"--display", "4000000000"}, "there is no display 4000000000"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto ending = shot(c.arguments);
    EXPECT_EQ(ending.code, 2);
    EXPECT_EQ(ending.err, "pellix-capture: " + c.message + "\n");
    EXPECT_EQ(ending.out, "");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST(WaylandOnly, EveryCaptureJobSaysWhyItCannotStart) {
  // The tool reads DISPLAY from its environment: take it out of ours for the child.
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  std::vector<std::vector<std::string>> jobs = {{}, {"audio"}, {"shot", "--out", "/tmp/pellix-wayland.png"}, {"list"}};
  for (auto& job : jobs) {
    SCOPED_TRACE(job.empty() ? "video" : job[0]);
    auto ending = e2e::run(job, {{"WAYLAND_DISPLAY", "wayland-0"}});
    EXPECT_EQ(ending.code, 2);
    EXPECT_EQ(ending.err,
              "pellix-capture: the capture could not start: no Wayland compositor answers at wayland-0, and "
              "there is no X server to fall back on (DISPLAY is not set)\n");
    EXPECT_EQ(ending.out, "");
  }
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
