#include "video/tick.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#include <cstdio>
#include <thread>

#include "platform/fake/fake_capture.h"
#include "support/captured.h"

namespace {

uint32_t white(size_t, size_t) { return 0xffffffffu; }

TEST(Tick, WritesNothingBeforeTheFirstFrameThenTheNewestWhole) {
  auto frames = std::make_shared<Frames>(40, 30);
  platform::FakeStream stream({}, {}, *frames);
  EXPECT_EQ(captured(1, [&] { Tick(frames, 1)(); }), "");
  frames->stream(stream, platform::screenSample(40, 30, 160, platform::complete, white), platform::OutputType::screen);
  std::string out = captured(1, [&] {
    Tick tick(frames, 1);
    tick();
    tick();
  });
  EXPECT_EQ(out, std::string(2 * 40 * 30 * 4, '\xff'));
}

TEST(Tick, EndsWithZeroAndNoMessageWhenTheReaderHasGone) {
  auto frames = std::make_shared<Frames>(4, 3);
  platform::FakeStream stream({}, {}, *frames);
  frames->stream(stream, platform::screenSample(4, 3, 16, platform::complete, white), platform::OutputType::screen);
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EXIT(
      {
        Tick(frames, readerGone())();
        abort();
      },
      testing::ExitedWithCode(0), "^$");
}

// A standard output that is the reading end of a pipe fails like any
// unwritable one; lending would instead fill the frame from the pipe.
TEST(Tick, EndsWithZeroOnTheReadingEndOfAPipe) {
  auto frames = std::make_shared<Frames>(4, 3);
  platform::FakeStream stream({}, {}, *frames);
  frames->stream(stream, platform::screenSample(4, 3, 16, platform::complete, white), platform::OutputType::screen);
  EXPECT_EXIT(
      {
        int ends[2];
        if (pipe(ends) != 0) abort();
        std::string other(4 * 3 * 4, 'x');
        if (write(ends[1], other.data(), other.size()) != ssize_t(other.size())) abort();
        Tick(frames, ends[0])();
        abort();
      },
      testing::ExitedWithCode(0), "^$");
}

// The kernel refuses to lend pages for this thread and its children.
void refuseVmsplice(int error) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_vmsplice, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | uint32_t(error)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{sizeof filter / sizeof filter[0], filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
    abort();
}

// Only a gone reader ends the job; a pipe that will not take pages gets copies.
TEST(Tick, APipeThatRefusesPagesGetsTheFrameByWrite) {
  auto frames = std::make_shared<Frames>(4, 3);
  platform::FakeStream stream({}, {}, *frames);
  frames->stream(stream, platform::screenSample(4, 3, 16, platform::complete, white), platform::OutputType::screen);
  for (int error : {ENOMEM, EINVAL, EFAULT})
    EXPECT_EXIT(
        {
          refuseVmsplice(error);
          int ends[2];
          if (pipe(ends) != 0) abort();
          Tick(frames, ends[1])();
          std::string out(4 * 3 * 4 + 1, '\0');
          ssize_t n = read(ends[0], out.data(), out.size());
          fprintf(stderr, "%s", n == 4 * 3 * 4 && out.substr(0, 48) == std::string(48, '\xff') ? "whole" : "broken");
          _exit(0);
        },
        testing::ExitedWithCode(0), "^whole$")
        << strerror(error);
}

TEST(Tick, GrowsAPipeToAMebibyte) {
  auto frames = std::make_shared<Frames>(4, 3);
  for (int given : {4 << 10, 64 << 10, 1 << 20}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_GE(fcntl(ends[1], F_SETPIPE_SZ, given), 0);
    Tick tick(frames, ends[1]);
    EXPECT_EQ(fcntl(ends[1], F_GETPIPE_SZ), 1 << 20) << given;
    close(ends[0]);
    close(ends[1]);
  }
}

TEST(Tick, NeverShrinksAPipeTheParentMadeLarger) {
  auto frames = std::make_shared<Frames>(4, 3);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  if (fcntl(ends[1], F_SETPIPE_SZ, 4 << 20) < 0) {
    close(ends[0]);
    close(ends[1]);
    GTEST_SKIP() << "a pipe over /proc/sys/fs/pipe-max-size needs CAP_SYS_RESOURCE";
  }
  Tick tick(frames, ends[1]);
  EXPECT_EQ(fcntl(ends[1], F_GETPIPE_SZ), 4 << 20);
  close(ends[0]);
  close(ends[1]);
}

// Moves `size` bytes from one pipe to another inside the kernel: the second
// then holds the very pages that were lent to the first.
void spliceAll(int from, int to, size_t size) {
  while (size > 0) {
    ssize_t n = splice(from, nullptr, to, nullptr, size, 0);
    if (n <= 0) return;
    size -= size_t(n);
  }
}

// Frames reach the reader as they were written, whether it copies them out at
// once or moves the pages on and reads them long after, while the sink goes on
// packing newer frames.
TEST(Tick, FramesWrittenToAPipeNeverChangeWhateverTheReaderDoes) {
  constexpr int w = 256, h = 256;  // 256 KiB frames: several fit in a pipe
  constexpr size_t frame = size_t(w) * h * 4, count = 40, held = 3;
  for (bool splices : {false, true}) {
    auto frames = std::make_shared<Frames>(w, h);
    platform::FakeStream stream({}, {}, *frames);
    int ends[2], keep[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(pipe(keep), 0);
    ASSERT_GE(fcntl(keep[1], F_SETPIPE_SZ, int(held * frame)), int(held * frame));
    Tick tick(frames, ends[1]);
    std::string out;
    std::thread reader([&] {
      if (splices) spliceAll(ends[0], keep[1], held * frame);
      char chunk[65536];
      ssize_t n;
      while ((n = read(ends[0], chunk, sizeof chunk)) > 0) out.append(chunk, size_t(n));
    });
    static uint8_t shade;
    for (size_t i = 0; i < count; i++) {
      shade = uint8_t(i);
      frames->stream(stream, platform::screenSample(w, h, w * 4, platform::complete,
                                                    [](size_t, size_t) { return 0x01010101u * shade; }),
                     platform::OutputType::screen);
      tick();
    }
    close(ends[1]);
    reader.join();
    close(ends[0]);
    if (splices) {
      std::string kept(held * frame, '\0');
      ASSERT_EQ(read(keep[0], kept.data(), kept.size()), ssize_t(kept.size()));
      out = kept + out;
    }
    close(keep[0]);
    close(keep[1]);
    ASSERT_EQ(out.size(), count * frame) << (splices ? "splicing" : "copying");
    for (size_t i = 0; i < count; i++)
      ASSERT_EQ(out.compare(i * frame, frame, std::string(frame, char(i))), 0)
          << "frame " << i << (splices ? ", splicing reader" : ", copying reader");
  }
}

TEST(Tick, IntervalIsTheRatesPeriodAndNeverZero) {
  struct Case {
    int64_t fps, nanoseconds;
  } cases[] = {
      {1, 1'000'000'000}, {30, 33'333'333}, {1'000'000'000, 1}, {1'000'000'001, 1}, {2'147'483'647, 1},
  };
  for (auto c : cases) EXPECT_EQ(tickInterval(c.fps).count(), c.nanoseconds) << c.fps;
}

}  // namespace
