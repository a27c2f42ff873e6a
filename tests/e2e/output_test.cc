// What the video job puts on standard output, for readers that do more than
// read it, and at every rate the options accept.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "harness.h"
#include "x11_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int side = 64;
constexpr size_t frameSize = size_t(side) * side * 4;

// The colour of a frame that is one colour throughout, else none.
std::optional<uint32_t> uniformColour(const std::string& frame) {
  uint32_t first;
  memcpy(&first, frame.data(), 4);
  for (size_t i = 4; i < frame.size(); i += 4)
    if (memcmp(frame.data() + i, &first, 4) != 0) return std::nullopt;
  return first & 0xffffff;
}

// Moves `size` bytes from `from` to `to` inside the kernel, as pv or a relay
// into a socket does: `to` then holds the very pages that were written.
bool spliceAll(int from, int to, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    pollfd ready{from, POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || poll(&ready, 1, int(left)) <= 0) return false;
    ssize_t n = splice(from, nullptr, to, nullptr, size, SPLICE_F_NONBLOCK);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    size -= size_t(n);
  }
  return true;
}

TEST(Output, FramesASplicingReaderHoldsNeverChange) {
  e2e::Xvfb server(320, 240);
  auto painter = e2e::paintWindow(server, 0, 0, 100, 100, 0x000000);
  // The window counts up in its colour, so every later frame has a higher one.
  std::atomic<bool> painting = true;
  std::thread counter([&] {
    char line[32];
    try {
      for (uint32_t shade = 1; painting && shade < 0xffffff; shade++) {
        snprintf(line, sizeof line, "color %06x", shade);
        x11test::tell(painter, line);
        std::this_thread::sleep_for(2ms);  // pacing only: a new colour well within each frame
      }
    } catch (const std::exception&) {
      // The painter went away; the checks below show a window that stopped changing.
    }
  });
  struct StopPainting {
    std::atomic<bool>& painting;
    std::thread& counter;
    ~StopPainting() {
      painting = false;
      counter.join();
    }
  } stop{painting, counter};

  e2e::Child tool(e2e::tool({"--fps", "50", "--crop", "10,10,64,64"}), server.environment());
  int held[2];
  ASSERT_EQ(pipe2(held, O_CLOEXEC), 0);
  constexpr size_t heldFrames = 40;
  ASSERT_GE(fcntl(held[1], F_SETPIPE_SZ, 1 << 20), int(heldFrames * frameSize));
  ASSERT_TRUE(spliceAll(tool.out(), held[1], heldFrames * frameSize, Clock::now() + 20s)) << tool.waitErr("", 100ms);

  // The tool goes on writing well past its pipe's capacity, while the reader
  // still holds the first frames' pages.
  int capacity = fcntl(tool.out(), F_GETPIPE_SZ);
  ASSERT_GT(capacity, 0);
  size_t later = (2 * size_t(capacity) / frameSize + 10) * frameSize;
  std::string after = tool.readOut(later, 30s);
  ASSERT_EQ(after.size(), later);
  tool.signal(SIGTERM);
  EXPECT_EQ(tool.wait().code, 0);

  std::string kept(heldFrames * frameSize, '\0');
  ASSERT_EQ(read(held[0], kept.data(), kept.size()), ssize_t(kept.size()));
  close(held[0]);
  close(held[1]);
  int torn = 0, older = 0;
  std::optional<uint32_t> first;
  uint32_t previous = 0;
  for (size_t i = 0; i < heldFrames; i++) {
    auto colour = uniformColour(kept.substr(i * frameSize, frameSize));
    if (!colour) {
      torn++;
      continue;
    }
    if (!first) first = colour;
    older += *colour < previous;
    previous = *colour;
  }
  EXPECT_EQ(torn, 0) << "of " << heldFrames << " held frames";
  EXPECT_EQ(older, 0) << "held frames older than the one before them";
  EXPECT_LT(first.value_or(0), previous) << "the window did not change while the frames were held";
  auto next = uniformColour(after.substr(0, frameSize));
  ASSERT_TRUE(next);
  EXPECT_LE(previous, *next) << "a held frame is newer than a frame written after it";
}

// A rate above 10^9 a second still gets a tick interval: the shortest there is.
TEST(Output, EveryAcceptedRateDeliversFramesAndEndsOnSigterm) {
  e2e::Xvfb server(320, 240);
  for (const char* fps : {"1000000000", "1000000001", "2147483647"}) {
    e2e::Child tool(e2e::tool({"--fps", fps, "--crop", "0,0,64,64"}), server.environment());
    EXPECT_EQ(tool.readOut(3 * frameSize).size(), 3 * frameSize) << fps << ": " << tool.waitErr("", 100ms);
    tool.signal(SIGTERM);
    auto ending = tool.wait();
    EXPECT_TRUE(ending.exited) << fps;
    EXPECT_EQ(ending.code, 0) << fps;
  }
}

}  // namespace
