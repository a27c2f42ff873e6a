// Which of the sound server's streams a recording takes, decided from what
// the server says it has; the server's callbacks only gather these facts.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace platform::pulse {

struct ServerFacts {
  struct Sink {
    uint32_t index;
    std::string name;
    std::string monitor;  // the source that records what the sink plays
  };
  struct Input {
    uint32_t index;
    uint32_t sink;
    pid_t pid;  // 0 when the stream does not say
  };
  std::string defaultSink;
  std::vector<Sink> sinks;
  std::vector<Input> inputs;
};

struct Recording {
  enum class Kind { wholeSink, including, excluding } kind;
  std::set<pid_t> applications;  // whose sound is taken (including) or left out (excluding)
  pid_t self;                    // this process: never recorded
};

// The plan's key for the default sink's own monitor; other keys are sink inputs.
constexpr uint32_t wholeSinkKey = UINT32_MAX;

// Key → source to record. The whole sink: the default sink's monitor. One
// application: each sink input played by it or by a process descending from
// it, on any sink. All but some: every other input of the default sink.
std::map<uint32_t, std::string> recordingPlan(const ServerFacts& facts, const Recording& recording,
                                              const std::function<bool(pid_t, pid_t)>& descendsFrom);

}  // namespace platform::pulse
