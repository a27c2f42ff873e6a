// The list job through the real binary: the ids it gives are the ids the
// capture jobs take.
#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness.h"

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

TEST(List, FailsLikeTheCaptureJobs) {
  auto ending = e2e::run({"list"}, {{"DISPLAY", ":99998"}});
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err.rfind("pellix-capture: the capture could not start: ", 0), 0u) << ending.err;
  EXPECT_EQ(ending.out, "");
  EXPECT_EQ(e2e::run({"list", "--fps"}).err, "pellix-capture: --fps needs a number\n");
}

}  // namespace
