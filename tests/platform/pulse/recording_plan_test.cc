#include "platform/pulse/recording_plan.h"

#include <gtest/gtest.h>

namespace {

using platform::pulse::Recording;
using platform::pulse::recordingPlan;
using platform::pulse::ServerFacts;
using platform::pulse::wholeSinkKey;
using Plan = std::map<uint32_t, std::string>;
using Kind = Recording::Kind;

// Two sinks; the default one plays a browser (pid 10) and its helper (pid 11,
// a child of 10), a player (20), a stream that names no process, and this
// process (99); the other sink plays the browser's second helper (12).
const ServerFacts server{"speakers",
                         {{1, "speakers", "speakers.monitor"}, {2, "headset", "headset.monitor"}},
                         {{100, 1, 10}, {101, 1, 11}, {102, 1, 20}, {103, 1, 0}, {104, 1, 99}, {105, 2, 12}, {106, 7, 20}}};

bool descendsFrom(pid_t pid, pid_t ancestor) { return pid == ancestor || ((pid == 11 || pid == 12) && ancestor == 10); }

TEST(RecordingPlan, TakesWhatTheRecordingNames) {
  struct Case {
    const char* what;
    ServerFacts facts;
    Recording recording;
    Plan plan;
  } cases[] = {
      {"the whole default sink", server, {Kind::wholeSink, {}, 99}, {{wholeSinkKey, "speakers.monitor"}}},
      {"no default sink to record", {"gone", server.sinks, server.inputs}, {Kind::wholeSink, {}, 99}, {}},
      {"one application with its child processes, on any sink",
       server, {Kind::including, {10}, 99}, {{100, "speakers.monitor"}, {101, "speakers.monitor"}, {105, "headset.monitor"}}},
      {"an application that plays nothing", server, {Kind::including, {30}, 99}, {}},
      {"all of the default sink but one application and this process",
       server, {Kind::excluding, {10}, 99}, {{102, "speakers.monitor"}, {103, "speakers.monitor"}}},
      {"leaving out two", server, {Kind::excluding, {10, 20}, 99}, {{103, "speakers.monitor"}}},
      {"no default sink: nothing to take the rest of", {"gone", server.sinks, server.inputs},
       {Kind::excluding, {10}, 99}, {}},
  };
  for (auto& c : cases) EXPECT_EQ(recordingPlan(c.facts, c.recording, descendsFrom), c.plan) << c.what;
}

}  // namespace
