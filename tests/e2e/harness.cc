#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(left);
}

// Reads what is there from `fd` into `buffer`, waiting until the deadline;
// false at the end of the stream or the deadline.
bool readSome(int fd, std::string& buffer, Clock::time_point deadline) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, remainingMs(deadline)) <= 0) return false;
  char chunk[65536];
  ssize_t n = read(fd, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer.append(chunk, size_t(n));
  return true;
}

}  // namespace

bool eventually(const std::function<bool()>& reached, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (reached()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Child::Child(const std::vector<std::string>& command, const Environment& environment) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; e++) {
    std::string entry = *e;
    auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (auto& [key, value] : environment) merged[key] = value;
  std::vector<std::string> entries;
  for (auto& [key, value] : merged) entries.push_back(key + "=" + value);
  std::vector<char*> envp, argv;
  for (auto& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = command;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int failed = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (failed) throw std::runtime_error("cannot start " + command[0] + ": " + strerror(failed));
}

Child::~Child() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  closeIn();
  closeOut();
  if (err_ >= 0) close(err_);
}

void Child::closeIn() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void Child::closeOut() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

std::string Child::readOut(size_t size, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (outBuffer_.size() < size && readSome(out_, outBuffer_, deadline)) {
  }
  std::string taken = outBuffer_.substr(0, size);
  outBuffer_.erase(0, taken.size());
  return taken;
}

std::optional<std::string> Child::readLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  size_t end;
  while ((end = outBuffer_.find('\n')) == std::string::npos)
    if (!readSome(out_, outBuffer_, deadline)) return std::nullopt;
  std::string line = outBuffer_.substr(0, end);
  outBuffer_.erase(0, end + 1);
  return line;
}

std::string Child::waitErr(const std::string& text, std::chrono::milliseconds timeout) {
  return waitErrUntil([&](const std::string& err) { return err.find(text) != std::string::npos; }, timeout);
}

std::string Child::waitErrUntil(const std::function<bool(const std::string&)>& done,
                                std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!done(errBuffer_) && readSome(err_, errBuffer_, deadline)) {
  }
  return errBuffer_;
}

void Child::signal(int number) { kill(pid_, number); }

Child::Ending Child::wait(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  Ending ending;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    bool progressed = readSome(out_, outBuffer_, Clock::now() + std::chrono::milliseconds(5));
    progressed |= readSome(err_, errBuffer_, Clock::now() + std::chrono::milliseconds(5));
    if (Clock::now() > deadline) {
      ending.out = outBuffer_;
      ending.err = errBuffer_;
      return ending;
    }
    if (!progressed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  reaped_ = true;
  // Gather what the child left in the pipes (its descendants may hold them: stop at the deadline).
  auto drain = std::min(deadline, Clock::now() + std::chrono::milliseconds(500));
  while (readSome(out_, outBuffer_, drain)) {
  }
  while (readSome(err_, errBuffer_, drain)) {
  }
  ending.exited = WIFEXITED(status);
  ending.code = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
  ending.out = outBuffer_;
  ending.err = errBuffer_;
  return ending;
}

std::vector<std::string> tool(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{PELLIX_BINARY};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

Child::Ending run(const std::vector<std::string>& arguments, const Environment& environment,
                  const std::string& input) {
  Child child(tool(arguments), environment);
  if (!input.empty()) {
    ssize_t ignored = write(child.in(), input.data(), input.size());
    (void)ignored;
  }
  child.closeIn();
  return child.wait();
}

namespace {

constexpr uid_t nobody = 65534;  // and its group, "nogroup", on Debian

}  // namespace

UnprivilegedTool::UnprivilegedTool(const std::vector<std::string>& arguments, const Environment& environment) {
  std::vector<std::string> command = tool(arguments);
  if (geteuid() == 0) {
    // The build tree may sit where that user cannot reach (/root): a copy of
    // the tool in a folder of its own, open to everyone, runs instead.
    char folder[] = "/tmp/pellix-unprivileged-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("cannot make a folder in /tmp");
    chmod(folder, 0755);
    copy_ = folder;
    auto copy = std::filesystem::path(folder) / "pellix-capture";
    std::filesystem::copy_file(PELLIX_BINARY, copy);
    chmod(copy.c_str(), 0755);
    command.front() = copy.string();
    std::string id = std::to_string(nobody);
    command.insert(command.begin(), {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"});
  }
  child_ = std::make_unique<Child>(command, environment);
}

UnprivilegedTool::~UnprivilegedTool() {
  child_.reset();
  if (!copy_.empty()) std::filesystem::remove_all(copy_);
}

Child::Ending runUnprivileged(const std::vector<std::string>& arguments, const Environment& environment) {
  UnprivilegedTool tool(arguments, environment);
  tool->closeIn();
  return tool->wait();
}

void makeReadOnly(const std::string& folder) {
  if (geteuid() == 0 && chown(folder.c_str(), nobody, nobody) != 0) throw std::runtime_error("cannot chown " + folder);
  if (chmod(folder.c_str(), 0555) != 0) throw std::runtime_error("cannot chmod " + folder);
}

namespace {

bool exists(const std::string& path) {
  struct stat ignored;
  return stat(path.c_str(), &ignored) == 0;
}

bool accepts(const std::string& socketPath) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return up;
}

// The process that holds the lock of display `n`; 0 when none does.
pid_t lockHolder(int n) {
  std::ifstream lock("/tmp/.X" + std::to_string(n) + "-lock");
  pid_t pid = 0;
  lock >> pid;
  return pid;
}

}  // namespace

Xvfb::Xvfb(int width, int height, const std::vector<std::string>& extra) {
  std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  auto deadline = Clock::now() + std::chrono::seconds(30);
  // A display number nobody uses. Other tests, here and in other trees, pick
  // theirs at the same moment: a server of theirs that takes the number first
  // makes ours give up, and ours tries the next one.
  for (int n = 90 + getpid() % 300; Clock::now() < deadline; n++) {
    std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (exists(lock) || exists(socket)) continue;
    display_ = ":" + std::to_string(n);
    std::vector<std::string> command{"Xvfb", display_, "-screen", "0", screen, "+extension", "RANDR",
                                     "-noreset", "-nolisten", "tcp"};
    command.insert(command.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    int failed = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) throw std::runtime_error("cannot start Xvfb");
    // Up: it holds the display's lock and accepts connections. Gone: the number was taken.
    bool gone = false;
    bool settled = eventually(
        [&] {
          gone = waitpid(pid_, nullptr, WNOHANG) == pid_;
          return gone || (lockHolder(n) == pid_ && accepts(socket));
        },
        std::chrono::milliseconds(remainingMs(deadline)));
    if (!settled) break;
    if (!gone) return;
    pid_ = -1;
  }
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  throw std::runtime_error("Xvfb did not start on " + display_);
}

Xvfb::~Xvfb() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

// A map request that reaches openbox while it starts may be dropped, so the
// probe asks again until it is framed.
Openbox::Openbox(const Xvfb& server) {
  process_ = std::make_unique<Child>(std::vector<std::string>{"openbox", "--sm-disable"}, server.environment());
  xcb_connection_t* c = xcb_connect(server.display().c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    throw std::runtime_error("cannot connect to " + server.display());
  }
  auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t probe = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    screen->root_visual, 0, nullptr);
  int asked = 0;
  bool framed = eventually(
      [&] {
        if (asked++ % 20 == 0) {
          xcb_unmap_window(c, probe);
          xcb_map_window(c, probe);
        }
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, probe), nullptr);
        bool framed = tree && tree->parent != screen->root;
        free(tree);
        return framed;
      },
      std::chrono::seconds(30));
  xcb_destroy_window(c, probe);
  free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  xcb_disconnect(c);
  if (!framed) throw std::runtime_error("openbox did not start");
}

std::string foreignAuthority() {
  std::string path = "/tmp/pellix-foreign-" + std::to_string(getpid()) + ".auth";
  auto field = [](const std::string& bytes) {
    return std::string{char(bytes.size() >> 8), char(bytes.size() & 0xff)} + bytes;
  };
  std::string cookie;
  for (int i = 0; i < 16; i++) cookie += char(0x5a ^ i);
  // Family "wild" (0xffff), any address, any display number.
  std::string entry = std::string("\xff\xff", 2) + field("") + field("") + field("MIT-MAGIC-COOKIE-1") + field(cookie);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file || fwrite(entry.data(), 1, entry.size(), file) != entry.size()) throw std::runtime_error("cannot write " + path);
  fclose(file);
  return path;
}

PaintedWindow paintWindow(const Xvfb& server, int x, int y, int width, int height, uint32_t rgb,
                          const std::string& name) {
  char color[8];
  snprintf(color, sizeof color, "%06x", rgb & 0xffffff);
  PaintedWindow painted;
  painted.process = std::make_unique<Child>(
      std::vector<std::string>{PAINT_WINDOW, std::to_string(x), std::to_string(y), std::to_string(width),
                               std::to_string(height), color, name},
      server.environment());
  auto line = painted.process->readLine();
  if (!line) throw std::runtime_error("paint-window did not start");
  painted.id = uint32_t(std::stoul(*line));
  return painted;
}

PulseServer::PulseServer() {
  char directory[] = "/tmp/pellix-pulse-XXXXXX";
  if (!mkdtemp(directory)) throw std::runtime_error("mkdtemp");
  directory_ = directory;
  server_ = std::make_unique<Child>(
      std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                               "--log-target=file:" + directory_ + "/log", "-L", "module-native-protocol-unix",
                               "-L", "module-null-sink sink_name=speakers rate=48000 channels=2 format=float32le"},
      environment());
  if (!eventually([&] { return answers(); }, std::chrono::seconds(30)))
    throw std::runtime_error("pulseaudio did not start");
}

PulseServer::~PulseServer() {
  server_.reset();
  std::filesystem::remove_all(directory_);
}

bool PulseServer::answers() const { return accepts(directory_ + "/pulse/native"); }

Environment merged(Environment a, const Environment& b) {
  a.insert(b.begin(), b.end());
  return a;
}

}  // namespace e2e
