// The audio job through the real binary, recording a private PulseAudio
// server with a null sink, and tones from a player that says when they are
// heard.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include "harness.h"

#ifndef __has_feature
#define __has_feature(x) 0  // gcc says it through __SANITIZE_ADDRESS__
#endif

namespace {

using namespace std::chrono_literals;
using e2e::Child;
using e2e::Environment;
using e2e::merged;
using e2e::PulseServer;

constexpr double rate = 48000;

double seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Output frame of a wall-clock time, for a recording whose frame 0 lies at `start`.
double frameOf(double wall, double start) { return (wall - start) * rate; }

// The audio job running, its standard output read by a thread of the test.
class Recording {
 public:
  Recording(const std::vector<std::string>& arguments, const Environment& environment)
      : tool_(e2e::tool(arguments), environment) {
    // With --verbose the driver speaks first: the start line is the one that begins so.
    auto err = tool_.waitErrUntil([](const std::string& err) {
      auto at = err.find("start ");
      return at != std::string::npos && err.find('\n', at) != std::string::npos;
    });
    auto at = err.find("start ");
    if (at != std::string::npos && err.find('\n', at) != std::string::npos)
      startLine_ = err.substr(at, err.find('\n', at) + 1 - at);
    reader_ = std::thread([this] {
      char chunk[65536];
      ssize_t n;
      for (;;) {
        while (paused_) std::this_thread::sleep_for(5ms);
        if ((n = read(tool_.out(), chunk, sizeof chunk)) <= 0) break;
        std::lock_guard lock(mutex_);
        bytes_.append(chunk, size_t(n));
      }
    });
  }
  ~Recording() {
    if (reader_.joinable()) {
      tool_.signal(SIGKILL);
      reader_.join();
    }
  }

  pid_t pid() const { return tool_.pid(); }
  const std::string& startLine() const { return startLine_; }

  // Stops reading until resume(); true once the tool's sound thread waits in
  // a write to its full output pipe.
  bool pause() {
    paused_ = true;
    std::string tasks = "/proc/" + std::to_string(tool_.pid()) + "/task";
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
      std::error_code gone;
      for (auto& task : std::filesystem::directory_iterator(tasks, gone)) {
        std::string name, waits;
        std::ifstream(task.path() / "comm") >> name;
        std::ifstream(task.path() / "wchan") >> waits;
        if (name == "pellix.sound" && waits.find("pipe_write") != std::string::npos) return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  void resume() { paused_ = false; }
  // Wall-clock seconds of output frame 0.
  double start() const { return std::stod(startLine_.substr(6)); }
  // Whether the output has reached the wall-clock time `wall` yet.
  bool reaches(double wall) {
    std::lock_guard lock(mutex_);
    return double(bytes_.size() / 8) >= frameOf(wall, start());
  }

  // Ends the tool with `signal` and returns how; the samples are then ready.
  Child::Ending end(int signal = SIGTERM) {
    tool_.signal(signal);
    return waitForEnd();
  }
  // The reader thread takes the output to its end first: wait() reads the
  // same pipe and would take part of it for itself.
  Child::Ending waitForEnd() {
    reader_.join();
    return tool_.wait();
  }
  // The left channel; the right one must equal it (the player plays both alike).
  std::vector<float> left() const {
    std::vector<float> samples(bytes_.size() / 8);
    for (size_t k = 0; k < samples.size(); k++) {
      float l, r;
      memcpy(&l, bytes_.data() + 8 * k, 4);
      memcpy(&r, bytes_.data() + 8 * k + 4, 4);
      EXPECT_EQ(l, r) << "frame " << k;
      samples[k] = l;
    }
    return samples;
  }
  size_t byteCount() const { return bytes_.size(); }

 private:
  Child tool_;
  std::string startLine_;
  std::thread reader_;
  std::mutex mutex_;
  std::atomic<bool> paused_ = false;
  std::string bytes_;
};

// The wall-clock time in the player's line "<monotonic> <wall>": when its
// tone is heard.
double heard(const std::string& line) {
  std::istringstream times(line);
  double monotonic = NAN, wall = NAN;
  times >> monotonic >> wall;
  return wall;
}

// The tone player: plays `lead` seconds of silence, a 0.5 sine of `hertz` for
// `tone` seconds, then `tail` seconds of silence. Returns when the tone was
// heard, on the wall clock.
double play(const Environment& environment, double lead, double tone, double hertz, double tail) {
  Child player({SOUND_PLAYER, std::to_string(lead), std::to_string(tone), std::to_string(hertz), std::to_string(tail)},
               environment);
  EXPECT_EQ(player.readLine(), "ready");
  double wall = heard(player.readLine().value_or(""));
  EXPECT_EQ(player.readLine(10s), "done");
  EXPECT_EQ(player.wait().err, "");
  return wall;
}

double peak(const std::vector<float>& samples, double from, double to) {
  float most = 0;
  for (size_t k = size_t(std::max(0.0, from)); k < samples.size() && double(k) < to; k++)
    most = std::max(most, std::fabs(samples[k]));
  return most;
}

class SoundTest : public testing::Test {
 protected:
  e2e::Xvfb x{640, 480};
  PulseServer pulse;
  Environment environment = merged(x.environment(), pulse.environment());
};

TEST_F(SoundTest, TheToneLandsWhereTheClockSaysAndSilenceAroundIt) {
  Recording recording({"audio"}, environment);
  EXPECT_TRUE(std::regex_match(recording.startLine(), std::regex("start [0-9]+\\.[0-9]{6}\n")))
      << recording.startLine();
  ASSERT_TRUE(e2e::eventually([&] { return recording.reaches(recording.start() + 0.5); }));
  double tone = play(pulse.environment(), 0.5, 0.3, 1000, 0.2);
  // The tone and the silence after it are out.
  ASSERT_TRUE(e2e::eventually([&] { return recording.reaches(tone + 0.5); }));
  double stopping = seconds(CLOCK_REALTIME);
  auto ending = recording.end();
  double stopped = seconds(CLOCK_REALTIME);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, recording.startLine());  // nothing more without --verbose

  auto samples = recording.left();
  double expected = frameOf(tone, recording.start());
  size_t onset = 0;
  while (onset < samples.size() && std::fabs(samples[onset]) < 0.01) onset++;
  ASSERT_LT(onset, samples.size()) << "no tone in " << samples.size() << " frames";
  // Within a millisecond of where the player's clock puts it.
  EXPECT_NEAR(double(onset), expected, 0.001 * rate);
  // The tone arrives whole: sample for sample the sine that was played.
  double worst = 0;
  for (size_t k = 0; k < size_t(0.3 * rate) - 1; k++) {
    double played = 0.5 * std::sin(2 * M_PI * 1000 * double(k + 1) / rate);
    worst = std::max(worst, std::fabs(double(samples[onset + k]) - played));
  }
  EXPECT_LT(worst, 1e-4);
  EXPECT_EQ(peak(samples, onset + 0.3 * rate, double(samples.size())), 0.0f);
  // Nothing else played: silence, and as much of it as the clock says, give
  // or take the sink's 10 ms chunks and the 30 to 70 ms that the output may
  // lag. The tool writes until the signal reaches it, which on a busy machine
  // may be a while: no further than its end, no shorter than to the signal.
  EXPECT_GT((stopped - recording.start()) * rate - double(samples.size()), -0.03 * rate);
  EXPECT_LT((stopping - recording.start()) * rate - double(samples.size()), 0.1 * rate);
}

// What pactl says about the sound server of `environment`.
std::string pactl(const std::vector<std::string>& arguments, const Environment& environment) {
  std::vector<std::string> command{"pactl"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  Child child(command, environment);
  child.closeIn();
  return child.wait().out;
}

// How many recordings the process `pid` has open on the sound server.
int recordingsOf(pid_t pid, const Environment& environment) {
  auto listing = pactl({"list", "source-outputs"}, environment);
  std::string mark = "application.process.id = \"" + std::to_string(pid) + "\"";
  int count = 0;
  for (auto at = listing.find(mark); at != std::string::npos; at = listing.find(mark, at + 1)) count++;
  return count;
}

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string key; status >> key;) {
    long kilobytes;
    if (key == "VmRSS:" && status >> kilobytes) return kilobytes;
  }
  return -1;
}

TEST_F(SoundTest, AReaderThatPausesCostsNoMemoryAndHearsSoundInTimeAfter) {
  // AddressSanitizer's quarantine of freed memory would look like growth.
  Recording recording({"audio"}, merged(environment, {{"ASAN_OPTIONS", "quarantine_size_mb=0"}}));
  ASSERT_TRUE(recording.pause()) << "the output pipe never filled";
  // Sound comes on at 0.4 MB a second while nothing is read: what waits for
  // the writer is bounded, so after the first seconds memory stays as it is.
  std::this_thread::sleep_for(2s);
  [[maybe_unused]] long early = residentKilobytes(recording.pid());
  std::this_thread::sleep_for(6s);
  [[maybe_unused]] long late = residentKilobytes(recording.pid());
#if !defined(__SANITIZE_ADDRESS__) && !__has_feature(address_sanitizer)
  // AddressSanitizer's allocator keeps memory of its own even without a
  // quarantine (1.3 MB over these six seconds): the figure says nothing there.
  EXPECT_LT(late - early, 1024) << early << " kB two seconds into the pause, " << late << " kB six seconds later";
#endif

  recording.resume();
  double tone = play(pulse.environment(), 0.5, 0.3, 1000, 0.2);
  ASSERT_TRUE(e2e::eventually([&] { return recording.reaches(tone + 0.5); }));
  auto ending = recording.end();
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, recording.startLine());
  auto samples = recording.left();
  double expected = frameOf(tone, recording.start());
  size_t onset = size_t(std::max(0.0, expected - 0.05 * rate));
  while (onset < samples.size() && std::fabs(samples[onset]) < 0.01) onset++;
  ASSERT_LT(onset, samples.size()) << "no tone in " << samples.size() << " frames";
  // Sound placed where its time says, not a dropped stretch of it earlier. On
  // a busy machine the server's timing shifts a recording by a few
  // milliseconds now and then, pause or not; the unit tests hold the writer
  // to the frame.
  EXPECT_NEAR(double(onset), expected, 0.05 * rate);
}

TEST_F(SoundTest, OneApplicationAloneOrLeftOut) {
  // The window's process plays a 1000 Hz tone from a child process, another
  // process a 440 Hz tone after it; each tone's time is noted by its player.
  std::string dir = std::filesystem::temp_directory_path() / ("pellix-tones-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  struct Run {
    std::vector<std::string> options;
    bool windowTone, otherTone;
  };
  for (auto& run : {Run{{"--window"}, true, false}, Run{{"--exclude-pid"}, false, true}}) {
    // The players of the round before have gone (the window's ends by itself).
    ASSERT_TRUE(e2e::eventually([&] { return pactl({"list", "short", "sink-inputs"}, pulse.environment()).empty(); }));
    // The window's player waits for a line on a named pipe of its own, which
    // it opens for reading and writing: that open does not wait for a writer.
    std::string notes = dir + "/window-tone", complaints = dir + "/window-player-errors", go = dir + "/go";
    std::filesystem::remove(go);
    ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
    Child owner({"sh", "-c",
                 "\"$0\" --on-go 0.2 0.3 1000 0.5 <>\"$3\" >\"$2\" 2>\"$4\" & exec \"$1\" 0 0 100 100 ff0000 noisy",
                 SOUND_PLAYER, PAINT_WINDOW, notes, go, complaints},
                environment);
    auto id = owner.readLine();
    ASSERT_TRUE(id);
    auto argument = run.options[0] == "--window" ? *id : std::to_string(owner.pid());
    Recording recording({"audio", run.options[0], argument, "--verbose"}, environment);
    Child other({SOUND_PLAYER, "--on-go", "1", "0.3", "440", "0.2"}, pulse.environment());
    ASSERT_EQ(other.readLine(), "ready");
    // The tones play once the tool records the one player it should hear:
    // the window's with --window, the other one with --exclude-pid.
    ASSERT_TRUE(e2e::eventually([&] { return recordingsOf(recording.pid(), pulse.environment()) == 1; }));
    std::ofstream(go) << "go" << std::endl;
    // The other tone follows once the window's is under way.
    std::string ready, line;
    ASSERT_TRUE(e2e::eventually([&] {
      std::ifstream noted(notes);
      return std::getline(noted, ready) && std::getline(noted, line);
    }));
    ASSERT_EQ(ready, "ready");
    ASSERT_EQ(write(other.in(), "go\n", 3), 3);
    double otherWall = heard(other.readLine().value_or(""));
    EXPECT_EQ(other.readLine(), "done");
    EXPECT_EQ(other.wait().err, "");
    ASSERT_TRUE(e2e::eventually([&] { return recording.reaches(otherWall + 0.5); }));
    recording.end();
    std::ifstream window(complaints);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(window), {}), "");

    auto samples = recording.left();
    double windowTone = frameOf(heard(line), recording.start());
    double otherTone = frameOf(otherWall, recording.start());
    ASSERT_GT(double(samples.size()), otherTone + 0.3 * rate);
    double inWindowTone = peak(samples, windowTone + 0.01 * rate, windowTone + 0.29 * rate);
    double inOtherTone = peak(samples, otherTone + 0.01 * rate, otherTone + 0.29 * rate);
    EXPECT_EQ(inWindowTone > 0.4, run.windowTone) << run.options[0] << " " << inWindowTone;
    EXPECT_EQ(inOtherTone > 0.4, run.otherTone) << run.options[0] << " " << inOtherTone;
    EXPECT_EQ(peak(samples, 0, windowTone - 0.01 * rate), 0.0f);
    if (run.windowTone) {
      // Mixed sound is placed as exactly as a whole sink's.
      size_t onset = size_t(windowTone - 0.01 * rate);
      while (onset < samples.size() && std::fabs(samples[onset]) < 0.01) onset++;
      EXPECT_NEAR(double(onset), windowTone, 0.001 * rate);
    }
  }
  std::filesystem::remove_all(dir);
}

TEST_F(SoundTest, ALostServerStopsTheCaptureWithTwo) {
  Recording recording({"audio"}, environment);
  ASSERT_TRUE(e2e::eventually([&] { return recording.reaches(recording.start() + 0.3); }));
  pulse.kill();
  auto ending = recording.waitForEnd();
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 2);
  EXPECT_TRUE(std::regex_match(ending.err, std::regex("start [0-9.]+\npellix-capture: the sound capture stopped: the "
                                                       "connection to the sound server was lost: [^\n]+\n")))
      << ending.err;
}

TEST_F(SoundTest, NoServerMeansTheCaptureCouldNotStart) {
  auto ending = e2e::run({"audio"}, merged(x.environment(), {{"PULSE_SERVER", "unix:/nonexistent/native"}}));
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 2);
  EXPECT_EQ(ending.err, "pellix-capture: the capture could not start: no sound server answers: Connection refused\n");
  EXPECT_EQ(ending.out, "");
}

TEST_F(SoundTest, AGoneReaderEndsTheRecordingWithZero) {
  Child tool(e2e::tool({"audio"}), environment);
  tool.waitErr("\n");
  tool.closeOut();
  auto ending = tool.wait(5s);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
}

}  // namespace
