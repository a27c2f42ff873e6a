// Every job through the real binary on a private headless sway session, with
// windows of our own (wayland_paint.c). Frames are read until they show what
// the test then asserts, with a deadline.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "../support/png_chunks.h"
#include "harness.h"
#include "scenes.h"
#include "wayland_session.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

using Frame = scenes::Picture;
using scenes::opaque;
using scenes::Pixel;
const Pixel none{0, 0, 0, 0};
const Pixel background = opaque(e2e::WaylandSession::background);

// A pixel a frame must show.
struct Expected {
  int x, y;
  Pixel pixel;
};

bool shows(const Frame& frame, const std::vector<Expected>& expected) {
  for (auto& e : expected)
    if (frame.at(e.x, e.y) != e.pixel) return false;
  return true;
}

class Wayland : public testing::Test {
 protected:
  e2e::WaylandSession session;

  std::unique_ptr<e2e::Child> start(const std::vector<std::string>& arguments, const e2e::Environment& extra = {}) {
    return std::make_unique<e2e::Child>(e2e::tool(arguments), e2e::merged(extra, session.environment()));
  }

  e2e::Child::Ending run(const std::vector<std::string>& arguments) {
    return e2e::run(arguments, session.environment());
  }

  // Reads frames of width × height until one satisfies `wanted`, or until the
  // deadline; the last frame read (short when the output ended).
  static Frame frameWhere(e2e::Child& tool, int width, int height, const std::function<bool(const Frame&)>& wanted,
                          std::chrono::seconds patience = 20s) {
    Frame frame{width, height, {}};
    size_t size = size_t(width) * size_t(height) * 4;
    auto deadline = Clock::now() + patience;
    do {
      frame.bytes = tool.readOut(size, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
      if (frame.bytes.size() != size) break;
    } while (!wanted(frame) && Clock::now() < deadline);
    return frame;
  }

  // The displays as `list` answers them.
  Json displays() {
    auto ending = run({"list"});
    EXPECT_EQ(ending.code, 0) << ending.err;
    return Json::parse(ending.out)["displays"];
  }

  // Waits until `list` answers `count` displays, the last `width` points wide.
  Json displaysOnce(size_t count, int width) {
    auto deadline = Clock::now() + 20s;
    Json found;
    do {
      found = displays();
      if (found.size() == count && found.back()["width"] == width) break;
      std::this_thread::sleep_for(20ms);
    } while (Clock::now() < deadline);
    return found;
  }

  // A second output, HEADLESS-2, 640x480 right of the first, red background.
  uint32_t secondOutput() {
    session.sway("create_output");
    session.sway("output HEADLESS-2 resolution 640x480 position 1280 0 bg #aa0000 solid_color");
    Json found = displaysOnce(2, 640);
    EXPECT_EQ(found.size(), 2u) << found.dump();
    return found.back()["id"];
  }
};

TEST_F(Wayland, FramesHoldTheExactPixelsOfTheScreenWholeOrCropped) {
  const auto& r = scenes::red;  // at 100, 50
  auto window = e2e::paintWayland(session, r.x, r.y, r.width, r.height, r.rgb, "pellix-red");
  const Pixel red = opaque(r.rgb);
  struct Case {
    std::vector<std::string> arguments;
    int width, height;
    std::vector<Expected> pixels;
  } cases[] = {
      {{}, 1280, 720,
       {{0, 0, background}, {1279, 719, background}, {100, 50, red}, {299, 149, red}, {99, 50, background},
        {300, 149, background}, {100, 150, background}}},
      // The crop's corner is at 90,40: the window starts at 10,10 in the frame.
      {{"--crop", "90,40,20,20"}, 20, 20, {{9, 9, background}, {10, 10, red}, {19, 19, red}, {10, 9, background}}},
      {{"--crop", "110,60,-20,-20"}, 20, 20, {{9, 9, background}, {10, 10, red}}},
      // Past the output's edge there is nothing: zero bytes.
      {{"--crop", "1270,710,20,20"}, 20, 20, {{9, 9, background}, {10, 9, none}, {9, 10, none}, {19, 19, none}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "whole" : c.arguments[1]);
    auto tool = start(c.arguments);
    Frame frame = frameWhere(*tool, c.width, c.height, [&](const Frame& f) { return shows(f, c.pixels); });
    ASSERT_EQ(frame.bytes.size(), size_t(c.width) * size_t(c.height) * 4) << tool->waitErr("", 100ms);
    for (auto& e : c.pixels) EXPECT_EQ(frame.at(e.x, e.y), e.pixel) << e.x << "," << e.y;
    tool->signal(SIGTERM);
    EXPECT_EQ(tool->wait().code, 0);
  }
}

TEST_F(Wayland, FramesKeepTheirSizeWhenTheOutputShrinks) {
  auto tool = start({});
  std::vector<Expected> before{{0, 0, background}, {1279, 719, background}};
  Frame frame = frameWhere(*tool, 1280, 720, [&](const Frame& f) { return shows(f, before); });
  ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u) << tool->waitErr("", 100ms);
  session.sway("output HEADLESS-1 resolution 640x480");
  // What the output no longer covers is zeros; what it covers, its pixels.
  std::vector<Expected> after{{0, 0, background}, {639, 479, background}, {640, 0, none}, {1279, 719, none}};
  frame = frameWhere(*tool, 1280, 720, [&](const Frame& f) { return shows(f, after); });
  ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u) << tool->waitErr("", 100ms);
  for (auto& e : after) EXPECT_EQ(frame.at(e.x, e.y), e.pixel) << e.x << "," << e.y;
  tool->signal(SIGTERM);
  EXPECT_EQ(tool->wait().code, 0);
}

TEST_F(Wayland, ListingAnswersTheOutputsWithIdsThatLastMainFirst) {
  Json first = displays();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0]["name"], "HEADLESS-1");
  EXPECT_EQ(first[0]["x"], 0);
  EXPECT_EQ(first[0]["y"], 0);
  EXPECT_EQ(first[0]["width"], 1280);
  EXPECT_EQ(first[0]["height"], 720);
  EXPECT_EQ(first[0]["scale"], 1.0);
  EXPECT_EQ(first[0]["main"], true);
  auto ending = run({"list"});
  EXPECT_EQ(Json::parse(ending.out)["windows"], Json::array());
  EXPECT_EQ(Json::parse(ending.out)["applications"], Json::array());
  // As the session's own user, whose socket it is, the same.
  auto own = e2e::runUnprivileged({"list"}, session.environment());
  EXPECT_EQ(own.code, 0) << own.err;
  EXPECT_EQ(own.out, ending.out);

  // The second output comes after the main one, and the first keeps its id.
  secondOutput();
  Json both = displays();
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0]["id"], first[0]["id"]);
  EXPECT_EQ(both[1]["name"], "HEADLESS-2");
  EXPECT_EQ(both[1]["x"], 1280);
  EXPECT_EQ(both[1]["main"], false);
}

TEST_F(Wayland, EachOutputIsCapturedByItsListedId) {
  uint32_t second = secondOutput();
  uint32_t first = displays()[0]["id"];
  struct Case {
    uint32_t id;
    int width, height;
    Pixel backdrop;
  } cases[] = {{first, 1280, 720, background}, {second, 640, 480, opaque(0xaa0000)}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.id);
    auto tool = start({"--display", std::to_string(c.id)});
    std::vector<Expected> corners{{0, 0, c.backdrop}, {c.width - 1, c.height - 1, c.backdrop}};
    Frame frame = frameWhere(*tool, c.width, c.height, [&](const Frame& f) { return shows(f, corners); });
    ASSERT_EQ(frame.bytes.size(), size_t(c.width) * size_t(c.height) * 4) << tool->waitErr("", 100ms);
    EXPECT_EQ(frame.at(0, 0), c.backdrop);
    EXPECT_EQ(frame.at(c.width - 1, c.height - 1), c.backdrop);
    tool->signal(SIGTERM);
    EXPECT_EQ(tool->wait().code, 0);

    auto shot = testing::TempDir() + "pellix-wayland-" + std::to_string(getpid()) + ".png";
    auto ending = run({"shot", "--display", std::to_string(c.id), "--out", shot});
    EXPECT_EQ(ending.code, 0) << ending.err;
    EXPECT_EQ(ending.out, "{\"width\":" + std::to_string(c.width) + ",\"height\":" + std::to_string(c.height) +
                              ",\"scale\":1.0}\n");
    std::filesystem::remove(shot);
  }
}

TEST_F(Wayland, AScaledOutputIsCapturedInItsPixels) {
  session.sway("output HEADLESS-1 scale 2");
  Json found;
  auto deadline = Clock::now() + 20s;
  do found = displays()[0];
  while (found["width"] != 640 && Clock::now() < deadline);
  EXPECT_EQ(found["width"], 640);
  EXPECT_EQ(found["height"], 360);
  EXPECT_EQ(found["scale"], 2.0);
  // 100x50 points at 100,50 are 200x100 pixels at 200,100; the edges may be
  // smoothed by the scaling, the inside not.
  auto window = e2e::paintWayland(session, 100, 50, 100, 50, 0xff0000, "pellix-scaled");
  const Pixel red = opaque(0xff0000);
  std::vector<Expected> pixels{{204, 104, red}, {395, 195, red}, {190, 100, background}, {1279, 719, background}};
  auto tool = start({});
  Frame frame = frameWhere(*tool, 1280, 720, [&](const Frame& f) { return shows(f, pixels); });
  ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u);
  for (auto& e : pixels) EXPECT_EQ(frame.at(e.x, e.y), e.pixel) << e.x << "," << e.y;
  tool->signal(SIGTERM);
  tool->wait();

  // A crop is in pixels.
  auto cropped = start({"--crop", "200,100,200,100"});
  std::vector<Expected> inside{{4, 4, red}, {195, 95, red}};
  frame = frameWhere(*cropped, 200, 100, [&](const Frame& f) { return shows(f, inside); });
  ASSERT_EQ(frame.bytes.size(), 200u * 100u * 4u);
  for (auto& e : inside) EXPECT_EQ(frame.at(e.x, e.y), e.pixel) << e.x << "," << e.y;
  cropped->signal(SIGTERM);
  cropped->wait();

  auto shot = testing::TempDir() + "pellix-wayland-scaled-" + std::to_string(getpid()) + ".png";
  auto ending = run({"shot", "--out", shot});
  EXPECT_EQ(ending.code, 0) << ending.err;
  EXPECT_EQ(ending.out, "{\"width\":1280,\"height\":720,\"scale\":2.0}\n");
  auto facts = pngFacts(shot);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 1280u);
  EXPECT_EQ(facts->pixelsPerUnitX, 5669u);  // 144 dots per inch
  std::filesystem::remove(shot);
}

TEST_F(Wayland, TheScreenshotHoldsTheExactPixels) {
  auto window = e2e::paintWayland(session, 100, 50, 200, 100, 0x00ff00, "pellix-green");
  auto shot = testing::TempDir() + "pellix-wayland-shot-" + std::to_string(getpid()) + ".png";
  // The window is placed; the shot shows it once the compositor has drawn it there.
  std::string rgba;
  auto deadline = Clock::now() + 20s;
  auto at = [&](int x, int y) { return rgba.substr((size_t(y) * 1280 + size_t(x)) * 4, 4); };
  e2e::Child::Ending ending;
  do {
    ending = run({"shot", "--out", shot});
    ASSERT_EQ(ending.code, 0) << ending.err;
    e2e::Child decode({"stream", "-map", "rgba", "-storage-type", "char", shot, "-"});
    rgba = decode.readOut(1280 * 720 * 4);
    decode.wait();
    ASSERT_EQ(rgba.size(), 1280u * 720u * 4u);
  } while (at(100, 50) != std::string("\x00\xff\x00\xff", 4) && Clock::now() < deadline);
  EXPECT_EQ(ending.out, "{\"width\":1280,\"height\":720,\"scale\":1.0}\n");
  EXPECT_EQ(ending.err, "");
  EXPECT_EQ(at(100, 50), std::string("\x00\xff\x00\xff", 4));
  EXPECT_EQ(at(299, 149), std::string("\x00\xff\x00\xff", 4));
  EXPECT_EQ(at(99, 50), std::string("\x33\x66\x99\xff", 4));
  EXPECT_EQ(at(0, 719), std::string("\x33\x66\x99\xff", 4));
  std::filesystem::remove(shot);
}

TEST_F(Wayland, FramesComeAtTheRateWhetherTheScreenChangesOrNot) {
  auto window = e2e::paintWayland(session, 0, 0, 320, 200, 0x000000, "pellix-animated");
  for (bool changing : {true, false}) {
    SCOPED_TRACE(changing ? "changing" : "still");
    window.tell(changing ? "animate 30" : "animate 0");
    auto tool = start({"--fps", "15", "--crop", "0,0,320,200"});
    size_t size = 320 * 200 * 4;
    std::string first = tool->readOut(size);
    ASSERT_EQ(first.size(), size) << tool->waitErr("", 100ms);
    int frames = 0, changes = 0;
    std::string previous = first;
    auto end = Clock::now() + 2s;
    while (Clock::now() < end) {
      std::string frame = tool->readOut(size);
      ASSERT_EQ(frame.size(), size);
      frames++;
      changes += frame != previous;
      previous = std::move(frame);
    }
    tool->signal(SIGTERM);
    EXPECT_EQ(tool->wait().code, 0);
    // About 30 frames; a loaded machine may lose some, the tick never adds any.
    EXPECT_GE(frames, 15);
    EXPECT_LE(frames, 33);
    if (changing)
      EXPECT_GE(changes, frames / 3);
    else
      EXPECT_EQ(changes, 0);
  }
}

TEST_F(Wayland, AStreamStopsWhenItsOutputGoesAwayOrTheCompositorDies) {
  // Headless outputs cannot be unplugged: those of a nested sway can.
  e2e::NestedSway nested(session);
  Json found;
  auto deadline = Clock::now() + 20s;
  do found = Json::parse(e2e::run({"list"}, nested.environment()).out)["displays"];
  while (found.size() != 2 && Clock::now() < deadline);
  ASSERT_EQ(found.size(), 2u) << found.dump();
  ASSERT_EQ(found[1]["name"], "WL-2");
  uint32_t unplugged = found[1]["id"];
  auto tool = std::make_unique<e2e::Child>(e2e::tool({"--display", std::to_string(unplugged)}), nested.environment());
  size_t size = size_t(found[1]["width"].get<int>()) * size_t(found[1]["height"].get<int>()) * 4;
  ASSERT_EQ(tool->readOut(size).size(), size) << tool->waitErr("", 100ms);
  nested.unplug("WL-2");
  auto ending = tool->wait();
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err, "pellix-capture: the capture stopped: display " + std::to_string(unplugged) +
                            " (WL-2) went away\n");

  tool = start({});
  ASSERT_EQ(tool->readOut(1280 * 720 * 4).size(), 1280u * 720u * 4u) << tool->waitErr("", 100ms);
  kill(session.compositor(), SIGKILL);
  ending = tool->wait();
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err.rfind("pellix-capture: the capture stopped: the connection to the Wayland compositor at " +
                                 session.environment()["WAYLAND_DISPLAY"] + " broke (",
                             0),
            0u)
      << ending.err;
}

TEST_F(Wayland, SigtermEndsAStreamWithZero) {
  auto tool = start({"--fps", "30"});
  size_t size = 1280 * 720 * 4;
  ASSERT_EQ(tool->readOut(size).size(), size) << tool->waitErr("", 100ms);
  tool->signal(SIGTERM);
  auto ending = tool->wait();
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
}

TEST_F(Wayland, WhatNeedsWindowsOrApplicationsIsRefusedSayingWhy) {
  const std::string windows =
      "pellix-capture: the capture could not start: --window needs a window id, and a Wayland compositor gives none "
      "to capture tools: neither a window's pictures nor its application's sound can be told apart (only displays "
      "are captured here)\n";
  const std::string applications =
      "pellix-capture: the capture could not start: --exclude-pid needs to tell each application's windows apart, "
      "which a Wayland compositor does not let capture tools do (its pixels and sound would be captured all the "
      "same)\n";
  auto out = testing::TempDir() + "pellix-refused.png";
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {{"--window", "7", "--size", "100,100"}, windows},
      {{"shot", "--out", out, "--window", "7"}, windows},
      {{"audio", "--window", "7"}, windows},
      {{"--exclude-pid", std::to_string(getpid())}, applications},
      {{"shot", "--out", out, "--exclude-pid", "1"}, applications},
      {{"audio", "--exclude-pid", "1"}, applications},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[c.arguments.size() - 2]);
    auto ending = run(c.arguments);
    EXPECT_EQ(ending.code, 2);
    EXPECT_EQ(ending.err, c.message);
    EXPECT_EQ(ending.out, "");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST_F(Wayland, SoundIsRecordedAsOnX11) {
  e2e::PulseServer pulse;
  auto tool = start({"audio"}, {{"PULSE_SERVER", pulse.environment()["PULSE_SERVER"]}});
  auto err = tool->waitErr("start ");
  EXPECT_EQ(err.rfind("start ", 0), 0u) << err;
  EXPECT_EQ(tool->readOut(4800 * 8).size(), 4800u * 8u);
  tool->signal(SIGTERM);
  EXPECT_EQ(tool->wait().code, 0);
}

TEST_F(Wayland, TheDisplayServerIsChosenFromTheEnvironment) {
  e2e::Xvfb x{640, 480};
  auto wayland = session.environment()["WAYLAND_DISPLAY"];
  struct Case {
    std::string display, waylandDisplay, backend;
    std::string name;   // of the display `list` answers, or
    std::string error;  // the whole standard error
  } cases[] = {
      {x.display(), "", "", "screen", ""},
      {"", wayland, "", "HEADLESS-1", ""},
      {x.display(), wayland, "", "HEADLESS-1", ""},
      {x.display(), wayland, "x11", "screen", ""},
      {"", wayland, "x11", "", "pellix-capture: the capture could not start: this is a Wayland session without an X "
                               "server (DISPLAY is not set)\n"},
      {x.display(), wayland, "wayland", "HEADLESS-1", ""},
      {x.display(), "wayland-nowhere", "wayland", "", "pellix-capture: the capture could not start: no Wayland "
                                                      "compositor answers at wayland-nowhere (No such file or "
                                                      "directory)\n"},
      {x.display(), "wayland-nowhere", "", "screen",
       "pellix-capture: no Wayland compositor answers at wayland-nowhere: capturing through the X server " +
           x.display() + ", which sees X programs only\n"},
      {"", "wayland-nowhere", "", "", "pellix-capture: the capture could not start: no Wayland compositor answers "
                                      "at wayland-nowhere, and there is no X server to fall back on (DISPLAY is not "
                                      "set)\n"},
      {x.display(), wayland, "xorg", "", "pellix-capture: the capture could not start: PELLIX_CAPTURE_BACKEND is "
                                         "\"xorg\", but it takes x11, wayland or portal\n"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE("DISPLAY=" + c.display + " WAYLAND_DISPLAY=" + c.waylandDisplay + " backend=" + c.backend);
    auto environment = session.environment();
    environment["DISPLAY"] = c.display;
    environment["WAYLAND_DISPLAY"] = c.waylandDisplay;
    environment["PELLIX_CAPTURE_BACKEND"] = c.backend;
    auto ending = e2e::run({"list", "--verbose"}, environment);
    if (c.name.empty()) {
      EXPECT_EQ(ending.code, 2);
      EXPECT_EQ(ending.err, "pellix-capture: listing the displays\n" + c.error);
      continue;
    }
    EXPECT_EQ(ending.code, 0) << ending.err;
    EXPECT_EQ(Json::parse(ending.out)["displays"][0]["name"], c.name);
    if (!c.error.empty()) {
      EXPECT_NE(ending.err.find(c.error), std::string::npos) << ending.err;
    }
  }
}

}  // namespace
