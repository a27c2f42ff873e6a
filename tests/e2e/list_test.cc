// The list job through the real binary: the ids it gives are the ids the
// capture jobs take.
#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>

#include "x11_support.h"

namespace {

TEST(List, GivesIdsTheCaptureJobsTake) {
  e2e::Xvfb server(640, 480);
  auto painter = e2e::paintWindow(server, 30, 40, 120, 90, 0x00ff00, "lister");
  auto ending = e2e::run({"list", "--window", "5"}, server.environment());
  ASSERT_EQ(ending.code, 0) << ending.err;
  EXPECT_EQ(ending.err, "");
  ASSERT_EQ(ending.out.back(), '\n');
  auto listing = nlohmann::json::parse(ending.out);

  ASSERT_EQ(listing["displays"].size(), 1u);
  auto display = listing["displays"][0];
  EXPECT_EQ(display["width"], 640);
  EXPECT_EQ(display["height"], 480);
  EXPECT_EQ(display["scale"], 1.0);
  EXPECT_EQ(display["main"], true);

  nlohmann::json window;
  for (auto& w : listing["windows"])
    if (w["pid"] == painter.process->pid()) window = w;
  ASSERT_FALSE(window.is_null()) << ending.out;
  EXPECT_EQ(window["id"], painter.id);
  EXPECT_EQ(window["title"], "lister");
  EXPECT_EQ(window["x"], 30.0);
  EXPECT_EQ(window["width"], 120.0);
  EXPECT_EQ(window["onScreen"], true);
  bool named = false;
  for (auto& a : listing["applications"]) named |= a["pid"] == painter.process->pid() && a["name"] == "lister";
  EXPECT_TRUE(named);

  auto id = std::to_string(window["id"].get<uint32_t>());
  e2e::Child video(e2e::tool({"--window", id, "--size", "12,9", "--display", std::to_string(display["id"].get<uint32_t>())}),
                   server.environment());
  std::string frame = video.readOut(12 * 9 * 4);
  ASSERT_EQ(frame.size(), 12u * 9 * 4);
  EXPECT_EQ(frame.substr(0, 4), std::string("\x00\xff\x00\xff", 4));
  video.signal(SIGTERM);
  EXPECT_EQ(video.wait().code, 0);
}

// A capture that leaves an application out keeps a window of its own at the
// bottom of the stack (the root's background); a listing meanwhile shows the
// same windows as before it.
TEST(List, ACaptureLeavingAnApplicationOutAddsNoWindow) {
  e2e::Xvfb server(640, 480);
  auto painter = e2e::paintWindow(server, 30, 40, 120, 90, 0x00ff00, "lister");
  auto ids = [&] {
    auto ending = e2e::run({"list"}, server.environment());
    EXPECT_EQ(ending.code, 0) << ending.err;
    auto listing = nlohmann::json::parse(ending.out);
    std::set<uint32_t> listed;
    for (auto& w : listing["windows"]) listed.insert(w["id"].get<uint32_t>());
    return listed;
  };
  auto before = ids();
  e2e::Child video(e2e::tool({"--exclude-pid", std::to_string(painter.process->pid()), "--crop", "30,40,8,8"}),
                   server.environment());
  ASSERT_EQ(video.readOut(8 * 8 * 4).size(), 8u * 8 * 4) << video.waitErr("", std::chrono::milliseconds(100));
  EXPECT_EQ(ids(), before);
  video.signal(SIGTERM);
  EXPECT_EQ(video.wait().code, 0);
}

// X names its text in Latin-1 (STRING properties, atoms), and clients and
// processes may name themselves with bytes that are not UTF-8: the listing
// and the progress lines still hold valid UTF-8 only.
TEST(List, EveryNameIsValidUtf8) {
  if (!x11test::installed("xrandr")) GTEST_SKIP() << "xrandr is not installed";
  e2e::Xvfb server(640, 480);
  x11test::runOn(server, {"xrandr", "--setmonitor", "Caf\xe9", "320/85x480/127+320+0", "none"});
  auto latin1 = e2e::paintWindow(server, 0, 0, 40, 30, 0xff0000, "Caf\xe9");  // WM_CLASS and WM_NAME
  auto utf8 = e2e::paintWindow(server, 50, 0, 40, 30, 0x00ff00, "utf8");
  {
    x11test::Client client(server);
    std::string title = "a\xff" "b\xc0\xaf" "c\xed\xa0\x80" "d\xe2\x82" "e\xf0\x9f\x98\x80";
    xcb_change_property(client.get(), XCB_PROP_MODE_REPLACE, utf8.id, client.atom("_NET_WM_NAME"),
                        client.atom("UTF8_STRING"), 8, uint32_t(title.size()), title.data());
    free(xcb_get_input_focus_reply(client.get(), xcb_get_input_focus(client.get()), nullptr));
  }
  // No class: the application is named after its process, which an executable's file name names.
  char folder[] = "/tmp/pellix-name-XXXXXX";
  ASSERT_TRUE(mkdtemp(folder));
  std::string program = std::string(folder) + "/caf\xe9";
  std::filesystem::create_symlink(PAINT_WINDOW, program);
  e2e::Child unnamed({program, "100", "0", "40", "30", "0000ff", ""}, server.environment());
  ASSERT_TRUE(unnamed.readLine());
  std::filesystem::remove_all(folder);

  auto ending = e2e::run({"list"}, server.environment());
  ASSERT_EQ(ending.code, 0) << ending.err;
  auto listing = nlohmann::json::parse(ending.out);
  ASSERT_FALSE(listing.contains("error")) << ending.out;
  auto nameOf = [&](const char* kind, const char* key, const std::string& field, const nlohmann::json& value) {
    for (auto& entry : listing[kind])
      if (entry[key] == value) return entry[field].get<std::string>();
    return std::string("(none)");
  };
  EXPECT_EQ(nameOf("displays", "x", "name", 320), "Caf\u00e9");
  EXPECT_EQ(nameOf("applications", "pid", "name", latin1.process->pid()), "Caf\u00e9");
  EXPECT_EQ(nameOf("windows", "id", "title", latin1.id), "Caf\u00e9");
  // Each broken sequence becomes one U+FFFD; a whole character stays.
  EXPECT_EQ(nameOf("windows", "id", "title", utf8.id),
            "a\ufffd" "b\ufffd\ufffd" "c\ufffd\ufffd\ufffd" "d\ufffd" "e\U0001F600");
  EXPECT_EQ(nameOf("applications", "pid", "name", unnamed.pid()), "caf\ufffd");

  e2e::Child video(e2e::tool({"--verbose", "--crop", "0,0,8,8", "--exclude-pid",
                              std::to_string(latin1.process->pid())}),
                   server.environment());
  auto said = video.waitErr("\"]\n");  // the end of the "capturing" line
  EXPECT_NE(said.find("leaving out [\"Caf\u00e9\"]\n"), std::string::npos) << said;
  video.signal(SIGTERM);
  EXPECT_EQ(video.wait().code, 0);
}

TEST(List, FailsLikeTheCaptureJobs) {
  auto ending = e2e::run({"list"}, {{"DISPLAY", ":99998"}});
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err.rfind("pellix-capture: the capture could not start: ", 0), 0u) << ending.err;
  EXPECT_EQ(ending.out, "");
  EXPECT_EQ(e2e::run({"list", "--fps"}).err, "pellix-capture: --fps needs a number\n");
}

}  // namespace
