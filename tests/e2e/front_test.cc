// The command front through the real binary: messages, exit codes, signals.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "harness.h"

namespace {

using namespace std::chrono_literals;
using e2e::run;

TEST(Front, OptionErrorsComeBeforeAnyServiceIsAsked) {
  struct Case {
    std::vector<std::string> arguments;
    std::string line;
  } cases[] = {
      {{"video"}, "pellix-capture: unknown argument video\n"},
      {{"OCR"}, "pellix-capture: unknown argument OCR\n"},
      {{"audiox"}, "pellix-capture: unknown argument audiox\n"},
      {{"shot"}, "pellix-capture: shot needs --out <file.png>\n"},
      {{"shot", "--window", "7"}, "pellix-capture: shot needs --out <file.png>\n"},
      {{"--window", "7"}, "pellix-capture: --window needs --size\n"},
      {{"audio", "--fps"}, "pellix-capture: --fps needs a number\n"},
      {{"--size", "1280x720"}, "pellix-capture: --size needs w,h\n"},
  };
  // No X server at all: the options are refused before the display is asked.
  for (auto& c : cases) {
    auto ending = run(c.arguments, {{"DISPLAY", ":99999"}});
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.code, 2) << c.line;
    EXPECT_EQ(ending.err, c.line);
    EXPECT_EQ(ending.out, "");
  }
}

TEST(Front, OcrIgnoresItsArgumentsAndEndsWithItsInput) {
  auto ending = run({"ocr", "--fps", "x"}, {{"DISPLAY", ":99999"}});
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
}

TEST(Front, NoServerMeansTheCaptureCouldNotStart) {
  auto ending = run({}, {{"DISPLAY", ":99999"}});
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err.rfind("pellix-capture: the capture could not start: ", 0), 0u) << ending.err;
  EXPECT_EQ(ending.err.find('\n'), ending.err.size() - 1);
}

TEST(Front, AMissingDisplayEndsEveryCaptureJob) {
  e2e::Xvfb server;
  for (auto job : {std::vector<std::string>{}, {"audio"}, {"shot", "--out", "/tmp/x.png"}}) {
    auto arguments = job;
    arguments.insert(arguments.end(), {"--display", "4000000000", "--window", "1", "--size", "2,2"});
    auto ending = run(arguments, server.environment());
    EXPECT_EQ(ending.code, 2);
    EXPECT_EQ(ending.err, "pellix-capture: there is no display 4000000000\n");
    EXPECT_EQ(ending.out, "");
  }
}

TEST(Front, ARunningCaptureEndsWithZeroOnSigterm) {
  e2e::Xvfb server;
  e2e::Child child(e2e::tool({"--verbose"}), server.environment());
  EXPECT_NE(child.waitErr("apps\n").find("pellix-capture: listing the displays\n"), std::string::npos);
  ASSERT_EQ(child.readOut(1).size(), 1u) << "frames flow";
  child.signal(SIGTERM);
  auto ending = child.wait();
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
}

TEST(Front, RefusedByTheServerMeansNotAllowed) {
  // An X server that wants a cookie we do not have refuses us: exit code 3.
  e2e::Xvfb server(640, 480, {"-auth", e2e::foreignAuthority()});
  auto ending = run({}, {{"DISPLAY", server.display()}, {"XAUTHORITY", "/nonexistent"}});
  EXPECT_EQ(ending.code, 3);
  EXPECT_EQ(ending.err, "pellix-capture: screen recording is not allowed for this app\n");
}

}  // namespace
