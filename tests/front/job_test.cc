#include "front/job.h"

#include <gtest/gtest.h>

namespace {

TEST(Job, TheCommandWordNamesTheJob) {
  struct Case {
    std::optional<std::string_view> word;
    Job job;
    bool wordComesFirst;
  } cases[] = {
      {"ocr", Job::text, true},    {"audio", Job::audio, true},  {"shot", Job::shot, true},
      {"list", Job::list, true},   {std::nullopt, Job::video, false}, {"--fps", Job::video, false},
      {"Audio", Job::video, false}, {"", Job::video, false},
  };
  for (auto& c : cases) {
    EXPECT_EQ(jobNamed(c.word), c.job) << c.word.value_or("(none)");
    EXPECT_EQ(hasCommandWord(jobNamed(c.word)), c.wordComesFirst) << c.word.value_or("(none)");
  }
}

}  // namespace
