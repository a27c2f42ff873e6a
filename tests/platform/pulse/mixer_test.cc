#include "platform/pulse/mixer.h"

#include <gtest/gtest.h>

namespace {

using platform::pulse::Mixer;

// A rate whose slot times are exact in binary.
constexpr double rate = 1024;
double at(int slot) { return slot / rate; }

TEST(Mixer, SumsRecordingsOnOneGridAndHandsOutEachFrameOnce) {
  Mixer mixer(rate);
  std::vector<float> a{1, 10, 2, 20, 3, 30};
  mixer.add(at(5000), 3, a.data());  // before the mix begins: nobody waits for it
  EXPECT_FALSE(mixer.take(at(5000)));

  std::vector<float> b{100, 100, 200, 200, 300, 300, 400, 400};
  mixer.add(at(5001), 3, a.data());
  mixer.add(at(5002), 4, b.data());
  mixer.add(at(5003), 1, nullptr);  // a hole adds nothing
  auto first = mixer.take(at(5004));
  ASSERT_TRUE(first);
  EXPECT_DOUBLE_EQ(first->time, at(5000));
  EXPECT_EQ(first->frames, (std::vector<float>{0, 0, 1, 10, 102, 120, 203, 230}));

  // What came too late for the first hand-out is dropped; the rest follows.
  mixer.add(at(5003), 3, a.data());
  auto second = mixer.take(at(5007));
  ASSERT_TRUE(second);
  EXPECT_DOUBLE_EQ(second->time, at(5004));
  EXPECT_EQ(second->frames, (std::vector<float>{302, 320, 403, 430, 0, 0}));
  EXPECT_FALSE(mixer.take(at(5007)));

  // Nothing plays: silence, every frame of it.
  auto quiet = mixer.take(at(5010));
  ASSERT_TRUE(quiet);
  EXPECT_EQ(quiet->frames, std::vector<float>(6, 0));
}

}  // namespace
