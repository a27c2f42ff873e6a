#include "platform/pulse/chunk_clock.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using platform::pulse::ChunkClock;

TEST(ChunkClock, FollowsTheMedianAndMovesOnlyWhenTwoSnapshotsAgree) {
  ChunkClock clock(48000);
  EXPECT_FALSE(clock.anchor());
  clock.snapshot(1, 100.0000);
  clock.snapshot(2, 100.0004);
  clock.snapshot(3, 99.9998);
  EXPECT_DOUBLE_EQ(*clock.anchor(), 100.0000);

  // A sink changing its latency reports an odd snapshot now and then.
  clock.snapshot(4, 100.0090);
  EXPECT_DOUBLE_EQ(*clock.anchor(), 100.0000);
  clock.snapshot(5, 100.0001);
  EXPECT_DOUBLE_EQ(*clock.anchor(), 100.0001);

  // Two in a row that agree are the source's new timing.
  clock.snapshot(6, 100.0200);
  clock.snapshot(7, 100.0203);
  EXPECT_NEAR(*clock.anchor(), 100.0203, 1e-9);

  clock.snapshot(8, NAN);
  EXPECT_NEAR(*clock.anchor(), 100.0203, 1e-9);
}

TEST(ChunkClock, ALateChunkWaitsForASnapshotTakenAfterIt) {
  ChunkClock clock(48000);
  clock.snapshot(10, 10.0);
  // Chunks of 480 frames, each arriving 2 ms after its last frame was heard.
  for (int64_t end = 480; end <= 4800; end += 480) EXPECT_TRUE(clock.arrived(10.0 + end / 48000.0 + 0.002, end));
  EXPECT_TRUE(clock.arrived(10.0 + 5280 / 48000.0 + 0.015, 5280));  // a little late: still the same source

  // The source paused for half a second: its frames now lie later than the anchor says.
  double arrival = 10.0 + 5760 / 48000.0 + 0.5;
  EXPECT_FALSE(clock.arrived(arrival, 5760));
  EXPECT_FALSE(clock.anchor());
  clock.snapshot(arrival - 0.001, 10.0);  // asked for before the pause showed
  EXPECT_FALSE(clock.anchor());
  clock.snapshot(arrival + 0.001, 10.5);
  EXPECT_DOUBLE_EQ(*clock.anchor(), 10.5);
  EXPECT_TRUE(clock.arrived(arrival + 0.01, 6240));
}

TEST(ChunkClock, AChunkLateOnlyBecauseItsReaderRanLateKeepsTheAnchor) {
  ChunkClock clock(48000);
  clock.snapshot(9, 10.0);
  clock.snapshot(9.5, 10.001);
  EXPECT_TRUE(clock.arrived(10.0 + 4800 / 48000.0 + 0.002, 4800));

  // A loaded machine ran the reader 300 ms late: the source kept its time.
  double arrival = 10.0 + 5280 / 48000.0 + 0.3;
  EXPECT_FALSE(clock.arrived(arrival, 5280));
  EXPECT_FALSE(clock.anchor());
  clock.snapshot(arrival + 0.001, 10.0012);
  EXPECT_DOUBLE_EQ(*clock.anchor(), 10.001);  // the earlier snapshots still count
  EXPECT_TRUE(clock.arrived(10.0 + 5760 / 48000.0 + 0.002, 5760));
}

}  // namespace
