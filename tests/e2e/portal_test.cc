// Display capture through the screencast portal and PipeWire, on a private
// headless sway session that serves the portal (xdg-desktop-portal with the
// wlroots backend built for the tests). Its output chooser is a script whose
// answer a test sets and whose runs it counts. The tool runs as the session's
// user: root cannot call that user's session bus.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "harness.h"
#include "wayland_session.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

// BGRA bytes of an opaque colour.
std::string pixel(uint32_t rgb) {
  return {char(rgb & 0xff), char((rgb >> 8) & 0xff), char((rgb >> 16) & 0xff), char(0xff)};
}

struct Frame {
  int width = 0, height = 0;
  std::string bytes;
  std::string at(int x, int y) const { return bytes.substr((size_t(y) * size_t(width) + size_t(x)) * 4, 4); }
};

// A pixel a frame must show.
struct Expected {
  int x, y;
  uint32_t rgb;
};

bool shows(const Frame& frame, const std::vector<Expected>& expected) {
  for (auto& e : expected)
    if (frame.at(e.x, e.y) != pixel(e.rgb)) return false;
  return true;
}

// Reads frames of width × height until one shows `expected`, or the
// deadline; the last frame read (short when the output ended).
Frame frameShowing(e2e::Child& tool, int width, int height, const std::vector<Expected>& expected) {
  Frame frame{width, height, {}};
  size_t size = size_t(width) * size_t(height) * 4;
  auto deadline = Clock::now() + 20s;
  do {
    frame.bytes = tool.readOut(size, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    if (frame.bytes.size() != size) break;
  } while (!shows(frame, expected) && Clock::now() < deadline);
  return frame;
}

std::string contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class Portal : public testing::Test {
 protected:
  explicit Portal(e2e::Portal portal = e2e::Portal::built) : session(1280, 720, portal) {}

  e2e::WaylandSession session;

  // The session's variables for the tool: the portal asked for, the tokens
  // kept in a folder of the session's user.
  e2e::Environment environment() {
    auto environment = session.environment();
    environment["PELLIX_CAPTURE_BACKEND"] = "portal";
    environment["XDG_STATE_HOME"] = environment["XDG_RUNTIME_DIR"] + "/state";
    return environment;
  }
  std::string tokenFile(uint32_t displayID) {
    return environment()["XDG_STATE_HOME"] + "/pellix-capture/screencast-" + std::to_string(displayID);
  }

  std::unique_ptr<e2e::UnprivilegedTool> start(const std::vector<std::string>& arguments) {
    return std::make_unique<e2e::UnprivilegedTool>(arguments, environment());
  }
  e2e::Child::Ending run(const std::vector<std::string>& arguments) {
    return e2e::runUnprivileged(arguments, environment());
  }

  Json displays() {
    auto ending = run({"list"});
    EXPECT_EQ(ending.code, 0) << ending.err;
    return Json::parse(ending.out)["displays"];
  }

  // One run that shows the main display's background, ended by SIGTERM.
  void captureOnce() {
    auto tool = start({});
    Frame frame = frameShowing(**tool, 1280, 720, {{0, 0, e2e::WaylandSession::background}});
    ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u) << (*tool)->waitErr("", 100ms);
    (*tool)->signal(SIGTERM);
    auto ending = (*tool)->wait();
    EXPECT_EQ(ending.code, 0);
    EXPECT_EQ(ending.err, "");
  }
};

TEST_F(Portal, FramesShowTheScreenAtOnceThenFollowItAtTheRate) {
  auto window = e2e::paintWayland(session, 100, 50, 200, 100, 0xff0000, "pellix-portal");
  auto tool = start({"--fps", "15", "--verbose"});
  // The screen is still: the first frame comes all the same.
  std::vector<Expected> red{{100, 50, 0xff0000}, {299, 149, 0xff0000}, {99, 50, 0x336699}, {300, 150, 0x336699}};
  Frame frame = frameShowing(**tool, 1280, 720, red);
  ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u) << (*tool)->waitErr("", 100ms);
  for (auto& e : red) EXPECT_EQ(frame.at(e.x, e.y), pixel(e.rgb)) << e.x << "," << e.y;
  // A change comes through PipeWire, exactly.
  window.tell("color 00ff00");
  std::vector<Expected> green{{100, 50, 0x00ff00}, {299, 149, 0x00ff00}, {99, 50, 0x336699}, {1279, 719, 0x336699}};
  frame = frameShowing(**tool, 1280, 720, green);
  ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u) << (*tool)->waitErr("", 100ms);
  for (auto& e : green) EXPECT_EQ(frame.at(e.x, e.y), pixel(e.rgb)) << e.x << "," << e.y;

  // A window repainting at 30 a second: 15 frames a second, most of them new.
  window.tell("animate 30");
  int frames = 0, changes = 0;
  std::string previous = frame.bytes;
  auto end = Clock::now() + 2s;
  while (Clock::now() < end) {
    std::string next = (*tool)->readOut(1280 * 720 * 4);
    ASSERT_EQ(next.size(), 1280u * 720u * 4u);
    frames++;
    changes += next != previous;
    previous = std::move(next);
  }
  EXPECT_GE(frames, 15);
  EXPECT_LE(frames, 33);
  EXPECT_GE(changes, frames / 3);
  (*tool)->signal(SIGTERM);
  auto ending = (*tool)->wait();
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(session.chooserRuns(), 1);
}

TEST_F(Portal, TheDisplayOptionTakesTheOutputTheUserShares) {
  session.sway("create_output");
  session.sway("output HEADLESS-2 resolution 640x480 position 1280 0 bg #aa0000 solid_color");
  Json found;
  auto deadline = Clock::now() + 20s;
  do found = displays();
  while ((found.size() != 2 || found[1]["width"] != 640) && Clock::now() < deadline);
  ASSERT_EQ(found.size(), 2u) << found.dump();
  uint32_t first = found[0]["id"], second = found[1]["id"];

  session.chooserAnswers("HEADLESS-2");
  auto tool = start({"--display", std::to_string(second)});
  Frame frame = frameShowing(**tool, 640, 480, {{0, 0, 0xaa0000}, {639, 479, 0xaa0000}});
  ASSERT_EQ(frame.bytes.size(), 640u * 480u * 4u) << (*tool)->waitErr("", 100ms);
  (*tool)->signal(SIGTERM);
  EXPECT_EQ((*tool)->wait().code, 0);

  // The user shares another display than the one asked for: no frames of it.
  auto ending = run({"--display", std::to_string(first)});
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err, "pellix-capture: the capture could not start: the desktop shared display " +
                            std::to_string(second) + " (HEADLESS-2), not display " + std::to_string(first) +
                            " (HEADLESS-1) that was asked for\n");
  EXPECT_EQ(ending.out, "");

  // Two outputs of one size, which this portal places both at 0,0: the
  // stream matches neither, is taken as the main display, and the frames
  // show what the user shared.
  session.sway("output HEADLESS-2 resolution 1280x720");
  do found = displays();
  while (found[1]["width"] != 1280 && Clock::now() < deadline + 20s);
  auto window = e2e::paintWayland(session, 1380, 50, 200, 100, 0x00ff00, "pellix-second");
  // This portal's stream sends frames only when something changes, and may
  // miss the last change before a still screen: another window keeps
  // changing, away from the pixels looked at.
  auto ticker = e2e::paintWayland(session, 1780, 300, 100, 100, 0x000000, "pellix-ticker");
  ticker.tell("animate 30");
  tool = start({"--verbose"});
  frame = frameShowing(**tool, 1280, 720, {{0, 0, 0xaa0000}, {100, 50, 0x00ff00}, {1279, 719, 0xaa0000}});
  ASSERT_EQ(frame.bytes.size(), 1280u * 720u * 4u) << (*tool)->waitErr("", 100ms);
  EXPECT_EQ(frame.at(100, 50), pixel(0x00ff00));
  (*tool)->signal(SIGTERM);
  ending = (*tool)->wait();
  EXPECT_EQ(ending.code, 0);
  EXPECT_NE(ending.err.find("pellix-capture: the desktop's stream (1280x720 at 0,0) matches no listed display: it "
                            "is taken as the main display, display " +
                            std::to_string(first) + " (HEADLESS-1)\n"),
            std::string::npos)
      << ending.err;
}

TEST_F(Portal, TheUserIsAskedOnceAndAgainOnlyWhenTheTokenFails) {
  uint32_t id = displays()[0]["id"];
  captureOnce();
  EXPECT_EQ(session.chooserRuns(), 1);
  std::string token = contents(tokenFile(id));
  ASSERT_NE(token, "");
  auto mode = std::filesystem::status(tokenFile(id)).permissions();
  EXPECT_EQ(mode & std::filesystem::perms::all, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // The second run is not asked, and replaces the file with the token the
  // portal handed this time (a new file: a reader never sees half of one).
  auto inode = [&] {
    struct stat facts {};
    stat(tokenFile(id).c_str(), &facts);
    return facts.st_ino;
  };
  auto before = inode();
  captureOnce();
  EXPECT_EQ(session.chooserRuns(), 1);
  EXPECT_NE(contents(tokenFile(id)), "");
  EXPECT_NE(inode(), before);

  // A token the portal does not know, or a damaged file: asked again, no failure.
  for (std::string kept : {std::string("0b7c1f0e-1f53-4d5c-8a3e-000000000000\n"), std::string("\x01\xff\n\0z", 5)}) {
    int before = session.chooserRuns();
    std::ofstream(tokenFile(id), std::ios::trunc) << kept;
    captureOnce();
    EXPECT_EQ(session.chooserRuns(), before + 1);
    EXPECT_NE(contents(tokenFile(id)), kept);
  }
}

TEST_F(Portal, AScreenshotOfAStillScreenIsACopyThatAsksNoOne) {
  auto window = e2e::paintWayland(session, 100, 50, 200, 100, 0x00ff00, "pellix-still");
  std::string shot = environment()["XDG_RUNTIME_DIR"] + "/shot.png";
  // The window is placed; the shot shows it once the compositor has drawn it there.
  std::string rgba;
  auto at = [&](int x, int y) { return rgba.substr((size_t(y) * 1280 + size_t(x)) * 4, 4); };
  std::string green("\x00\xff\x00\xff", 4), backdrop("\x33\x66\x99\xff", 4);
  e2e::Child::Ending ending;
  auto deadline = Clock::now() + 20s;
  do {
    ending = run({"shot", "--out", shot});
    ASSERT_EQ(ending.code, 0) << ending.err;
    e2e::Child decode({"stream", "-map", "rgba", "-storage-type", "char", shot, "-"});
    rgba = decode.readOut(1280 * 720 * 4);
    decode.wait();
    ASSERT_EQ(rgba.size(), 1280u * 720u * 4u);
  } while (at(100, 50) != green && Clock::now() < deadline);
  EXPECT_EQ(ending.out, "{\"width\":1280,\"height\":720,\"scale\":1.0}\n");
  EXPECT_EQ(at(100, 50), green);
  EXPECT_EQ(at(299, 149), green);
  EXPECT_EQ(at(300, 149), backdrop);
  EXPECT_EQ(session.chooserRuns(), 0);
}

TEST_F(Portal, ARefusalEndsWithThree) {
  session.chooserAnswers("");
  auto ending = run({"--verbose"});
  EXPECT_EQ(ending.code, 3);
  EXPECT_NE(ending.err.find("pellix-capture: the capture could not start: the screen was not shared: the user "
                            "declined the desktop's screencast portal (its answer to SelectSources)\n"),
            std::string::npos)
      << ending.err;
  EXPECT_EQ(ending.out, "");
  EXPECT_EQ(session.chooserRuns(), 1);
}

TEST_F(Portal, SigtermEndsWithZeroAndTheSessionWithIt) {
  // The portal's backend names its stream's node "xdpw-stream-...".
  auto streaming = [&] { return session.pipewireObjects().find("xdpw-stream") != std::string::npos; };
  auto tool = start({"--fps", "30"});
  ASSERT_EQ((*tool)->readOut(1280 * 720 * 4).size(), 1280u * 720u * 4u) << (*tool)->waitErr("", 100ms);
  EXPECT_TRUE(e2e::eventually(streaming));
  (*tool)->signal(SIGTERM);
  auto ending = (*tool)->wait();
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
  // The portal closed the session, and its stream went with it.
  EXPECT_TRUE(e2e::eventually([&] { return !streaming(); }));
}

// Says Closed on every screencast session of the portal, as the portal does
// when the desktop ends the sharing (GNOME's indicator); the wlroots backend
// never has it say so.
void closeSessions(const e2e::WaylandSession& session) {
  std::vector<std::string> asUser;
  if (geteuid() == 0) asUser = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  auto busctl = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"busctl", "--user"});
    arguments.insert(arguments.begin(), asUser.begin(), asUser.end());
    e2e::Child child(arguments, session.environment());
    child.closeIn();
    return child.wait().out;
  };
  std::istringstream paths(busctl({"--list", "tree", "org.freedesktop.portal.Desktop"}));
  for (std::string path; std::getline(paths, path);)
    if (path.find("/session/") != std::string::npos)
      busctl({"emit", path, "org.freedesktop.portal.Session", "Closed", "a{sv}", "0"});
}

// A stream ends when the desktop closes its session, or the portal, its
// backend or PipeWire goes away, each with its own message.
TEST(PortalStream, StopsWithTwoWhenTheSessionThePortalOrPipeWireGoes) {
  auto killing = [](pid_t (e2e::WaylandSession::*process)() const) {
    return [process](const e2e::WaylandSession& s) { kill((s.*process)(), SIGKILL); };
  };
  struct Case {
    std::string gone;
    std::function<void(const e2e::WaylandSession&)> end;
    std::string message;  // the start of standard error
  } cases[] = {
      {"the session", closeSessions, "pellix-capture: the capture stopped: the desktop closed the screencast session\n"},
      {"the portal's backend", killing(&e2e::WaylandSession::portalBackend),
       "pellix-capture: the capture stopped: the desktop ended its screencast stream (PipeWire node "},
      {"the portal", killing(&e2e::WaylandSession::portal),
       "pellix-capture: the capture stopped: the desktop's screencast portal went away\n"},
      {"PipeWire", killing(&e2e::WaylandSession::pipewire),
       "pellix-capture: the capture stopped: PipeWire went away (its connection broke)\n"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.gone);
    e2e::WaylandSession session(1280, 720, e2e::Portal::built);
    auto environment = session.environment();
    environment["PELLIX_CAPTURE_BACKEND"] = "portal";
    environment["XDG_STATE_HOME"] = environment["XDG_RUNTIME_DIR"] + "/state";
    e2e::UnprivilegedTool tool({}, environment);
    ASSERT_EQ(tool->readOut(1280 * 720 * 4).size(), 1280u * 720u * 4u) << tool->waitErr("", 100ms);
    c.end(session);
    auto ending = tool->wait();
    EXPECT_EQ(ending.code, 2);
    EXPECT_EQ(ending.err.rfind(c.message, 0), 0u) << ending.err;
  }
}

class DebianPortal : public Portal {
 protected:
  DebianPortal() : Portal(e2e::Portal::debian) {}
};

// Debian 12's own backend refuses every start without a GPU: the portal's
// error answer.
TEST_F(DebianPortal, APortalErrorEndsWithTwoSayingWhichStep) {
  auto ending = run({});
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err, "pellix-capture: the capture could not start: the desktop's screencast portal answered Start "
                        "with an error (response 2)\n");
  EXPECT_EQ(ending.out, "");
}

}  // namespace
