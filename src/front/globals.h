// Process-wide values: set once by the entry before any other thread starts,
// read by everyone afterwards without a lock.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "front/options.h"
#include "platform/capture.h"

extern double soundRate;    // frames per second of the sound output
extern double soundLag;     // seconds: silence is filled up to this long before now
extern double soundBehind;  // seconds: silence is filled once the output is this far behind
extern double soundSlack;   // seconds: placement tolerance of a sound buffer
extern std::optional<std::filesystem::path> accurateFailed;  // the marker file
extern std::string thisBuild;                                // operating system version
extern std::optional<std::string> command;                   // the first argument
extern bool audio;
extern bool shot;
extern bool listing;  // the command word was "list"
extern Options options;

// The screen capture service, chosen by main.
extern platform::Capture* capture;

// The marker file's place: the user's caches directory, when there is one.
std::optional<std::filesystem::path> accurateFailedPath();
// "<PRETTY_NAME of os-release> <kernel release>".
std::string operatingSystemVersion();
