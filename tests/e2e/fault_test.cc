// Faults from outside while the real binary runs: servers that die, readers
// that go, signals mid-write, files that cannot be written, hostile images,
// and a long run of requests.
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

#include "harness.h"
#include "text/marker.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path temporaryFolder() {
  char name[] = "/tmp/pellix-fault-XXXXXX";
  return mkdtemp(name);
}

// The X server's process, from the lock file it writes for its display.
pid_t serverPid(const e2e::Xvfb& server) {
  std::ifstream lock("/tmp/.X" + server.display().substr(1) + "-lock");
  pid_t pid = 0;
  lock >> pid;
  return pid;
}

// Kills the X server at once, as a crash would, and clears what it leaves.
void crash(const e2e::Xvfb& server) {
  pid_t pid = serverPid(server);
  ASSERT_GT(pid, 0);
  kill(pid, SIGKILL);
  fs::remove("/tmp/.X" + server.display().substr(1) + "-lock");
  fs::remove("/tmp/.X11-unix/X" + server.display().substr(1));
}

// Exit code 2 with one line naming why, soon after the fault.
void expectStoppedWithReason(e2e::Child& child, Clock::time_point fault) {
  auto ending = child.wait(5s);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - fault);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 2);
  EXPECT_TRUE(std::regex_match(
      ending.err, std::regex("pellix-capture: the capture (stopped|could not start): [^\n]*[A-Za-z][^\n]*\n")))
      << ending.err;
  EXPECT_LT(took, 1000ms);
}

// The third argument (for write, how many bytes it asked for) of the call
// among `calls` that a thread of `pid` waits in on its standard output; none
// while no thread waits there.
std::optional<long> waitingWrite(pid_t pid, std::initializer_list<long> calls = {SYS_write}) {
  std::error_code gone;
  for (auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", gone)) {
    // "<number> <arguments in hex...>", or "running".
    std::ifstream file(task.path() / "syscall");
    long number = -1;
    std::string fd, buffer, count;
    if (file >> number >> fd >> buffer >> count && std::find(calls.begin(), calls.end(), number) != calls.end() &&
        std::stol(fd, nullptr, 16) == 1)
      return std::stol(count, nullptr, 16);
  }
  return std::nullopt;
}

// Whether `pid` has a connection open (to the X server here) and sleeps in a
// system call: it waits for an answer.
bool waitsOnAConnection(pid_t pid) {
  std::error_code gone;
  bool connected = false;
  for (auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", gone))
    connected |= fs::read_symlink(fd.path(), gone).string().starts_with("socket:");
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  auto state = text.rfind(") ");  // the state follows the command's name
  return connected && state != std::string::npos && text[state + 2] == 'S';
}

TEST(Fault, AVideoRunEndsWithTwoWhenTheXServerDies) {
  e2e::Xvfb server(320, 200);
  e2e::Child child(e2e::tool({"--crop", "0,0,32,20"}), server.environment());
  ASSERT_EQ(child.readOut(32 * 20 * 4).size(), 32u * 20 * 4);
  auto fault = Clock::now();
  crash(server);
  expectStoppedWithReason(child, fault);  // its wait reads the rest of the output
}

TEST(Fault, AScreenshotEndsWithTwoWhenTheXServerDiesBeforeAnswering) {
  e2e::Xvfb server(320, 200);
  auto folder = temporaryFolder();
  // A stopped server takes the connection but answers nothing: the screenshot
  // waits for it, and it dies in the middle.
  kill(serverPid(server), SIGSTOP);
  e2e::Child child(e2e::tool({"shot", "--out", (folder / "shot.png").string()}), server.environment());
  ASSERT_TRUE(e2e::eventually([&] { return waitsOnAConnection(child.pid()); }));
  auto fault = Clock::now();
  crash(server);
  expectStoppedWithReason(child, fault);
  EXPECT_FALSE(fs::exists(folder / "shot.png"));
  fs::remove_all(folder);
}

TEST(Fault, AGoneReaderEndsListAndScreenshotWithZero) {
  e2e::Xvfb server(320, 200);
  auto folder = temporaryFolder();
  for (auto arguments : std::vector<std::vector<std::string>>{
           {"list"}, {"shot", "--out", (folder / "shot.png").string()}}) {
    e2e::Child child(e2e::tool(arguments), server.environment());
    child.closeOut();
    auto ending = child.wait(5s);
    EXPECT_TRUE(ending.exited) << arguments[0];
    EXPECT_EQ(ending.code, 0) << arguments[0];
    EXPECT_EQ(ending.err, "") << arguments[0];
  }
  fs::remove_all(folder);
}

TEST(Fault, SigtermInTheMiddleOfAFrameEndsWithZero) {
  e2e::Xvfb server(1920, 1080);
  e2e::Child child(e2e::tool({}), server.environment());
  // Part of the first frame: the writer then waits in the middle of it.
  ASSERT_EQ(child.readOut(100000).size(), 100000u);
  ASSERT_TRUE(e2e::eventually([&] { return waitingWrite(child.pid(), {SYS_write, SYS_writev, SYS_vmsplice}).has_value(); }));
  auto fault = Clock::now();
  child.signal(SIGTERM);
  auto ending = child.wait(5s);  // reads the rest of the output meanwhile
  EXPECT_LT(Clock::now() - fault, 1000ms);
  EXPECT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
}

TEST(Fault, SigtermInTheMiddleOfASoundChunkEndsWithZeroAndWholeFrames) {
  e2e::Xvfb server(320, 200);
  e2e::PulseServer pulse;
  e2e::Child player({SOUND_PLAYER, "0", "30", "1000"}, pulse.environment());
  ASSERT_EQ(player.readLine(), "ready");
  // Chunks run to some 15 kB and the pipe takes them a page at a time, so the
  // writer mostly waits with part of a chunk written, though not every time:
  // a few recordings make that all but certain.
  for (int round = 0; round < 3; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    e2e::Child child(e2e::tool({"audio"}), e2e::merged(server.environment(), pulse.environment()));
    auto start = child.waitErr("\n");
    ASSERT_TRUE(std::regex_match(start, std::regex("start [0-9]+\\.[0-9]{6}\n"))) << start;
    // An odd count, so that what stays in the pipe does not begin on a frame.
    size_t received = child.readOut(100001).size();
    ASSERT_EQ(received, 100001u);
    // The reader stalls: the pipe fills and the writer waits inside a write.
    std::optional<long> waiting;
    e2e::eventually([&] { return (waiting = waitingWrite(child.pid())).has_value(); });
    ASSERT_TRUE(waiting) << "the writer never waited";
    auto fault = Clock::now();
    child.signal(SIGTERM);
    auto ending = child.wait(5s);
    EXPECT_LT(Clock::now() - fault, 1000ms);
    EXPECT_TRUE(ending.exited);
    EXPECT_EQ(ending.code, 0);
    EXPECT_EQ(ending.err, start);
    received += ending.out.size();
    EXPECT_EQ(received % 8, 0u) << received << " bytes, the last write asked for " << *waiting;
  }
}

TEST(Fault, AScreenshotThatCannotBeWrittenSaysWhere) {
  e2e::Xvfb server(320, 200);
  auto folder = temporaryFolder();
  // The superuser writes into a read-only folder anyway: there the tool runs
  // as a user without privileges, who must be let through to the folder.
  fs::permissions(folder, fs::perms::others_exec, fs::perm_options::add);
  fs::create_directory(folder / "read-only");
  e2e::makeReadOnly(folder / "read-only");
  auto readOnly = (folder / "read-only" / "shot.png").string();
  std::vector<std::string> places{"/dev/full", "/proc/self/shot.png", (folder / "missing" / "shot.png").string(),
                                  readOnly};
  for (auto& place : places) {
    auto arguments = std::vector<std::string>{"shot", "--out", place};
    auto ending = place == readOnly ? e2e::runUnprivileged(arguments, server.environment())
                                    : e2e::run(arguments, server.environment());
    EXPECT_EQ(ending.code, 2) << place;
    EXPECT_EQ(ending.out, "") << place;
    EXPECT_EQ(ending.err, "pellix-capture: cannot write " + place + "\n");
  }
  std::error_code ignored;
  fs::permissions(folder / "read-only", fs::perms::owner_all, ignored);
  fs::remove_all(folder);
}

// The ocr service with a cache folder of its own.
class FaultService : public testing::Test {
 protected:
  void SetUp() override {
    // AddressSanitizer's quarantine of freed memory would look like growth.
    service = std::make_unique<e2e::Child>(e2e::tool({"ocr"}),
                                           e2e::Environment{{"XDG_CACHE_HOME", (folder / "cache").string()},
                                                            {"LANG", "en_GB.UTF-8"},
                                                            {"ASAN_OPTIONS", "quarantine_size_mb=0"}});
    ASSERT_EQ(service->readLine(), R"({"preparing":true})");
    auto ready = service->readLine(60s);
    ASSERT_TRUE(ready);
    ASSERT_EQ(json::parse(*ready).value("ready", false), true) << *ready;
  }
  void TearDown() override { fs::remove_all(folder); }

  fs::path file(const std::string& name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder / name;
  }
  json ask(const fs::path& path) {
    std::string line = json{{"path", path.string()}}.dump() + "\n";
    EXPECT_EQ(write(service->in(), line.data(), line.size()), ssize_t(line.size()));
    auto answer = service->readLine(60s);
    return answer ? json::parse(*answer) : json();
  }
  long residentKilobytes() {
    std::ifstream status("/proc/" + std::to_string(service->pid()) + "/status");
    for (std::string key; status >> key;) {
      long kilobytes;
      if (key == "VmRSS:" && status >> kilobytes) return kilobytes;
    }
    return -1;
  }

  fs::path folder = temporaryFolder();
  std::unique_ptr<e2e::Child> service;
};

// A PNG of `width` x `height` grey pixels whose data is `data`, unchecked.
std::string png(uint32_t width, uint32_t height, const std::string& data) {
  auto be = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  auto chunk = [&](const std::string& type, const std::string& body) {
    return be(uint32_t(body.size())) + type + body + be(0);  // readers that check sums refuse it either way
  };
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", be(width) + be(height) + std::string("\x08\0\0\0\0", 5)) +
         chunk("IDAT", data) + chunk("IEND", "");
}

TEST_F(FaultService, HostileImagesGetAnErrorAndTheServiceGoesOn) {
  struct Case {
    std::string name, bytes;
  } cases[] = {
      {"empty.png", ""},
      {"zero-sized.pgm", "P5\n0 0\n255\n"},
      {"truncated.pgm", "P5\n64 64\n255\n" + std::string(100, '\xff')},
      {"corrupt.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, '\x5a')},
      {"huge.png", png(0x7fffffff, 0x7fffffff, "x")},
      {"huge.pgm", "P5\n2000000000 2000000000\n255\n\xff"},
  };
  for (auto& c : cases) {
    auto answer = ask(file(c.name, c.bytes));
    ASSERT_TRUE(answer.is_object()) << c.name;
    // A broken image may still decode to blank rows; it must never take the service down.
    EXPECT_TRUE(answer.contains("lines") || answer.contains("error")) << c.name << ": " << answer;
  }
  auto blank = file("blank.pgm", "P5\n32 32\n255\n" + std::string(32 * 32, '\xff'));
  EXPECT_EQ(ask(blank), json::parse(R"({"lines":[]})"));
  service->closeIn();
  auto ending = service->wait();
  EXPECT_EQ(ending.code, 0);
  EXPECT_EQ(ending.err, "");
}

TEST_F(FaultService, TenThousandRequestsKeepMemoryFlat) {
  auto blank = file("blank.pgm", "P5\n16 16\n255\n" + std::string(16 * 16, '\xff'));
  auto missing = folder / "missing.png";
  std::string lines;
  for (int i = 0; i < 100; i++)
    lines += json{{"path", (i % 2 ? blank : missing).string()}}.dump() + "\n";
  // Answers are read by their own thread, so the two pipes never both fill.
  long early = 0;
  std::thread reader([&] {
    for (int i = 0; i < 10000; i++) {
      ASSERT_TRUE(service->readLine(60s)) << i;
      if (i == 1000) early = residentKilobytes();
    }
  });
  for (int round = 0; round < 100; round++)
    ASSERT_EQ(write(service->in(), lines.data(), lines.size()), ssize_t(lines.size()));
  reader.join();
  long late = residentKilobytes();
  EXPECT_LT(late - early, 4096) << early << " kB after 1,000 requests, " << late << " kB after 10,000";
}

// Many processes failing at once each replace the marker; a reader at any
// moment finds one whole marker, never a mixture or a part.
TEST(Fault, AMarkerWrittenByManyProcessesIsNeverTorn) {
  auto folder = temporaryFolder();
  const Marker marker{folder / "pellix-capture" / "accurate-text-failed", "Fault OS 1"};
  auto description = [](int writer) { return std::string(20000 + writer * 1000, char('a' + writer)); };
  std::vector<pid_t> writers;
  for (int writer = 0; writer < 8; writer++) {
    pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < 200; i++) markAccurateFailed(marker, description(writer));
      _exit(0);
    }
    writers.push_back(pid);
  }
  int reads = 0, found = 0;
  for (bool running = true; running; reads++) {
    running = false;
    for (pid_t pid : writers) running |= waitpid(pid, nullptr, WNOHANG) == 0;
    if (auto stored = failedLately(marker)) {
      found++;
      char c = (*stored)[0];
      ASSERT_TRUE(c >= 'a' && c < 'a' + 8);
      ASSERT_EQ(*stored, description(c - 'a'));
    }
  }
  EXPECT_GT(found, 0) << reads;
  for (pid_t pid : writers) waitpid(pid, nullptr, 0);
  size_t left = 0;
  for (auto& entry : fs::directory_iterator(folder / "pellix-capture")) left += entry.path() != *marker.path;
  EXPECT_EQ(left, 0u) << "files set aside were left behind";
  fs::remove_all(folder);
}

}  // namespace
