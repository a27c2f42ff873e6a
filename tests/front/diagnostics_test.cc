#include "front/diagnostics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>

#include "front/answer.h"
#include "platform/queue.h"
#include "support/captured.h"

namespace {

TEST(Say, WritesOnlyWithVerbose) {
  EXPECT_EQ(captured(2, [] { say(false, "first frame"); }), "");
  EXPECT_EQ(captured(2, [] { say(true, "first frame"); }), "pellix-capture: first frame\n");
  EXPECT_EQ(captured(2, [] { say(true, ""); }).size(), 17u);
  EXPECT_EQ(captured(2, [] { say(true, "Bildschirm \xc3\xa4"); }), "pellix-capture: Bildschirm \xc3\xa4\n");
}

TEST(Fail, WritesItsLineEvenWithoutVerboseAndExits) {
  EXPECT_EXIT(fail(3, "screen recording is not allowed for this app"), testing::ExitedWithCode(3),
              "^pellix-capture: screen recording is not allowed for this app\n$");
  EXPECT_EXIT(fail(2, ""), testing::ExitedWithCode(2), "^pellix-capture: \n$");
}

TEST(Fail, StillExitsWithItsCodeWhenStandardErrorIsClosed) {
  EXPECT_EXIT(
      {
        close(2);
        fail(2, "lost");
      },
      testing::ExitedWithCode(2), "");
}

TEST(Fail, AnExceptionThatEscapesAThreadEndsWithTwoAndSaysWhat) {
  struct Case {
    std::function<void()> throwing;
    std::string said;
  } cases[] = {
      {[] { throw std::bad_alloc(); }, "out of memory"},
      {[] { throw std::runtime_error("the pixel buffer is gone"); }, "the pixel buffer is gone"},
      {[] { throw 42; }, "an unknown failure"},
  };
  for (auto& c : cases) {
    EXPECT_EXIT(
        {
          failOnEscapedExceptions();
          platform::SerialQueue queue("pellix.frames");
          queue.async(c.throwing);
          std::this_thread::sleep_for(std::chrono::hours(1));
        },
        testing::ExitedWithCode(2), "^pellix-capture: " + c.said + "\n$");
  }
}

TEST(Answer, WritesOneCompactLine) {
  Json object = {{"width", 2880}, {"height", 1800}, {"scale", 2.0}};
  EXPECT_EQ(captured(1, [&] { answer(object); }), "{\"width\":2880,\"height\":1800,\"scale\":2.0}\n");
  EXPECT_EQ(captured(1, [] { answer({{"text", "a\nb \xe2\x80\xa6"}}); }), "{\"text\":\"a\\nb \xe2\x80\xa6\"}\n");
}

TEST(Answer, WritesTheFallbackWhenTheObjectCannotBeSerialised) {
  EXPECT_EQ(captured(1, [] { answer({{"text", "\xff\xfe"}}); }), "{\"error\":\"no JSON\"}\n");
}

TEST(Answer, EndsWithZeroAndNoMessageWhenTheReaderHasGone) {
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EXIT(
      {
        dup2(readerGone(), 1);
        answer({{"width", 1}});
        abort();
      },
      testing::ExitedWithCode(0), "^$");
}

TEST(QuotedList, EscapesLikeAStringLiteral) {
  EXPECT_EQ(quotedList({}), "[]");
  EXPECT_EQ(quotedList({"Firefox", "say \"hi\"\\"}), "[\"Firefox\", \"say \\\"hi\\\"\\\\\"]");
}

}  // namespace
