#include "platform/pulse/recording_plan.h"

namespace platform::pulse {

std::map<uint32_t, std::string> recordingPlan(const ServerFacts& facts, const Recording& recording,
                                              const std::function<bool(pid_t, pid_t)>& descendsFrom) {
  std::map<uint32_t, std::string> plan;
  const ServerFacts::Sink* defaultSink = nullptr;
  std::map<uint32_t, const ServerFacts::Sink*> sinks;
  for (auto& sink : facts.sinks) {
    sinks[sink.index] = &sink;
    if (sink.name == facts.defaultSink) defaultSink = &sink;
  }
  if (recording.kind == Recording::Kind::wholeSink) {
    if (defaultSink) plan[wholeSinkKey] = defaultSink->monitor;
    return plan;
  }
  for (auto& input : facts.inputs) {
    auto sink = sinks.find(input.sink);
    if (sink == sinks.end()) continue;
    bool named = false;
    for (pid_t application : recording.applications) named = named || (input.pid > 0 && descendsFrom(input.pid, application));
    bool taken = recording.kind == Recording::Kind::including
                     ? named
                     : defaultSink && input.sink == defaultSink->index && !named && input.pid != recording.self;
    if (taken) plan[input.index] = sink->second->monitor;
  }
  return plan;
}

}  // namespace platform::pulse
