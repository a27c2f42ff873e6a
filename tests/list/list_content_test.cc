#include "list/list_content.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_capture.h"
#include "platform/image/png_files.h"
#include "front/dispatch.h"
#include "support/child_output.h"

namespace {

TEST(List, DescribesDisplaysWindowsAndApplicationsInOrder) {
  platform::FakeCapture fake;
  fake.mainDisplay = 9;
  fake.content.displays = {{3, 1440, 900, "left", -1440, 0}, {9, 1920, 1080, "screen", 0, 0}};
  fake.content.applications = {{101, "xterm"}};
  fake.content.windows = {{42, {10, 20, 300.5, 200}, "a \"title\"", true, fake.content.applications[0]},
                          {43, {0, 0, 1, 1}, "", false, std::nullopt}};
  fake.modes[3] = {2880, 1800};
  ChildOutput answer;
  EXPECT_EXIT(
      {
        Options options = parse({"--window", "7", "--verbose"}, 9, Job::list);
        options.verbose = false;
        answer.redirect();
        platform::PngFiles pngs;
        runCaptureJob(Job::list, options, fake, pngs);
      },
      testing::ExitedWithCode(0), "^$");
  EXPECT_EQ(answer.text(),
            "{\"displays\":["
            "{\"id\":3,\"name\":\"left\",\"x\":-1440,\"y\":0,\"width\":1440,\"height\":900,\"scale\":2.0,\"main\":false},"
            "{\"id\":9,\"name\":\"screen\",\"x\":0,\"y\":0,\"width\":1920,\"height\":1080,\"scale\":1.0,\"main\":true}],"
            "\"windows\":["
            "{\"id\":42,\"title\":\"a \\\"title\\\"\",\"x\":10.0,\"y\":20.0,\"width\":300.5,\"height\":200.0,"
            "\"pid\":101,\"onScreen\":true},"
            "{\"id\":43,\"title\":\"\",\"x\":0.0,\"y\":0.0,\"width\":1.0,\"height\":1.0,\"pid\":null,\"onScreen\":false}],"
            "\"applications\":[{\"pid\":101,\"name\":\"xterm\"}]}\n");
}

}  // namespace
