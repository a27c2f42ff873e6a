#include "front/job.h"

Job jobNamed(std::optional<std::string_view> word) {
  if (word == "ocr") return Job::text;
  if (word == "audio") return Job::audio;
  if (word == "shot") return Job::shot;
  if (word == "list") return Job::list;
  return Job::video;
}

bool hasCommandWord(Job job) { return job != Job::video; }
