// Starting real services and the real binary for end-to-end tests.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using Environment = std::map<std::string, std::string>;

// Asks `reached` again and again until it holds or `timeout` passes; whether
// it held. How a test waits for a state that another process reaches in its
// own time: for that very state, never for a fixed time.
bool eventually(const std::function<bool()>& reached, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A child process with pipes on its standard input, output and error.
class Child {
 public:
  Child(const std::vector<std::string>& command, const Environment& environment = {});
  ~Child();  // kills it if it still runs
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  int in() const { return in_; }
  int out() const { return out_; }
  int err() const { return err_; }
  void closeIn();
  void closeOut();

  // Reads exactly `size` bytes of standard output; fewer at its end or timeout.
  std::string readOut(size_t size, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads one line of standard output (without the line feed); none at its end.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads standard error until `text` appears in it or the timeout; all read so far.
  std::string waitErr(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Reads standard error until `done` holds for all read so far, or the timeout; all read so far.
  std::string waitErrUntil(const std::function<bool(const std::string&)>& done,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void signal(int number);

  struct Ending {
    bool exited = false;  // false: killed by a signal, or still running at the timeout
    int code = -1;        // exit code, or the signal's number
    std::string out, err; // what was left unread
  };
  // Waits for the end, reading the rest of both outputs.
  Ending wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outBuffer_, errBuffer_;
  bool reaped_ = false;
};

// Runs `arguments` on pellix-capture to its end, with `input` on its standard input.
Child::Ending run(const std::vector<std::string>& arguments, const Environment& environment = {},
                  const std::string& input = "");

// Starts pellix-capture with `arguments`.
std::vector<std::string> tool(const std::vector<std::string>& arguments);

// As `run`, but where permission bits hold: as ourselves, or as the user
// "nobody" when we are the superuser, whom they do not stop.
Child::Ending runUnprivileged(const std::vector<std::string>& arguments, const Environment& environment = {});

// pellix-capture started with `arguments` as runUnprivileged runs it, for
// tests that read it while it runs. Removes its copy at the end.
class UnprivilegedTool {
 public:
  UnprivilegedTool(const std::vector<std::string>& arguments, const Environment& environment = {});
  ~UnprivilegedTool();
  UnprivilegedTool(const UnprivilegedTool&) = delete;
  UnprivilegedTool& operator=(const UnprivilegedTool&) = delete;
  Child* operator->() { return child_.get(); }
  Child& operator*() { return *child_; }

 private:
  std::string copy_;  // the copy's folder, or empty
  std::unique_ptr<Child> child_;
};

// Gives `folder` to the user that runUnprivileged runs as, with mode 0555:
// that user may list it but not write into it. Its parents must let that
// user through.
void makeReadOnly(const std::string& folder);

// A private headless X server, with RandR, for one test.
class Xvfb {
 public:
  explicit Xvfb(int width = 1920, int height = 1080, const std::vector<std::string>& extra = {});
  ~Xvfb();
  const std::string& display() const { return display_; }  // ":N"
  // WAYLAND_DISPLAY emptied: run inside a Wayland session, the tool would
  // otherwise capture that session.
  Environment environment() const { return {{"DISPLAY", display_}, {"WAYLAND_DISPLAY", ""}}; }

 private:
  std::string display_;
  pid_t pid_ = -1;
};

// openbox managing `server` (a reparenting window manager), ready when made:
// it has framed a probe window.
class Openbox {
 public:
  explicit Openbox(const Xvfb& server);

 private:
  std::unique_ptr<Child> process_;
};

// Writes an X authority file holding one cookie that no client has, and
// returns its path. An Xvfb started with `-auth` on it refuses every client;
// on a file that cannot be read it would let local clients in.
std::string foreignAuthority();

// A window of our own, painted in one colour; see paint_window.c.
struct PaintedWindow {
  std::unique_ptr<Child> process;
  uint32_t id = 0;
};
PaintedWindow paintWindow(const Xvfb& server, int x, int y, int width, int height, uint32_t rgb,
                          const std::string& name = "painter");

// A PulseAudio server of its own, in a private runtime directory, with one
// null sink as the default output.
class PulseServer {
 public:
  PulseServer();
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  Environment environment() const {
    return {{"XDG_RUNTIME_DIR", directory_}, {"PULSE_SERVER", "unix:" + directory_ + "/pulse/native"}};
  }
  void kill() { server_->signal(SIGKILL); }

 private:
  bool answers() const;

  std::string directory_;
  std::unique_ptr<Child> server_;
};

// The two environments together; `a` wins where both set a name.
Environment merged(Environment a, const Environment& b);

}  // namespace e2e
