// The job a run does, named by the command word.
#pragma once

#include <optional>
#include <string_view>

enum class Job { video, audio, shot, list, text };

// "ocr", "audio", "shot" and "list" name their jobs; anything else (or no
// word) is the video stream, whose options start at the first argument.
Job jobNamed(std::optional<std::string_view> word);

// Whether the command word comes before the options.
bool hasCommandWord(Job job);
