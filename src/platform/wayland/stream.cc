#include "platform/wayland/stream.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/wayland/connection.h"
#include "platform/wayland/screencopy.h"
#include "platform/wayland/slots.h"
#include "platform/wayland/target.h"

namespace platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

double monotonicNow() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::chrono::nanoseconds intervalOf(Time t) {
  if (t.value <= 0 || t.timescale <= 0) return std::chrono::nanoseconds(1'000'000'000 / 60);
  return std::chrono::nanoseconds(std::max<int64_t>(1, t.value * 1'000'000'000 / t.timescale));
}

// Failed copies in a row that end the stream: one may come while an output
// changes its mode.
constexpr int failuresToGiveUp = 3;

}  // namespace

WaylandStream::WaylandStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate)
    : filter_(std::move(filter)),
      configuration_(std::move(configuration)),
      delegate_(delegate),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WaylandStream::~WaylandStream() {
  stopping_ = true;
  wakeUp();
  {
    std::lock_guard lock(threadLock_);
    if (thread_.joinable()) {
      if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // destroyed from its own callback: it touches nothing after
      else
        thread_.join();
    }
  }
  close(wake_);
}

void WaylandStream::wakeUp() {
  uint64_t one = 1;
  ssize_t ignored = write(wake_, &one, sizeof one);
  (void)ignored;
}

std::optional<Error> WaylandStream::addStreamOutput(StreamOutput& output, OutputType type,
                                                    std::shared_ptr<SerialQueue> queue) {
  return outputs_.add(output, type, std::move(queue));
}

void WaylandStream::startCapture(Completion completion) {
  if (started_.exchange(true)) {
    completion(Error{failedToStart, "the stream has already been started"});
    return;
  }
  std::lock_guard lock(threadLock_);
  thread_ = std::thread([this, completion = std::move(completion)] { run(completion); });
}

void WaylandStream::stopCapture(Completion completion) {
  if (!started_) {
    completion(Error{failedToStart, "the stream has not been started"});
    return;
  }
  stopping_ = true;
  wakeUp();
  {
    std::lock_guard lock(threadLock_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }
  completion(std::nullopt);
}

void WaylandStream::setUp() {
  connection_ = std::make_unique<Connection>();
  Target target = chooseTarget(*connection_, filter_, configuration_);
  copies_ = std::make_unique<Screencopy>(*connection_, target.output, configuration_.showsCursor);
  slots_ = std::make_unique<Slots>(configuration_.queueDepth, target.width, target.height);
  originX_ = target.area.x;
  originY_ = target.area.y;
}

void WaylandStream::run(Completion completion) {
  pthread_setname_np(pthread_self(), "pellix.wayland");
  try {
    setUp();
  } catch (const Error& error) {
    ended_ = true;
    completion(error);
    return;
  }
  completion(std::nullopt);
  auto interval = intervalOf(configuration_.minimumFrameInterval);
  bool first = true;
  int failures = 0;
  auto next = Clock::now();
  for (;;) {
    // The first copy comes at once, even from a still screen; later ones only
    // once something changed. After a failed copy (the output changed its
    // mode under it) the next comes at once too: the change that failed it
    // may be the last one for a long time.
    copies_->request(!first && failures == 0);
    if (!copied()) return;
    if (copies_->state() == Screencopy::State::waiting) {
      // The output changed its mode while the copy waited for a change: the
      // copy was for the old size, and the change may already have passed.
      failures = 1;
      continue;
    }
    if (copies_->state() == Screencopy::State::ready) {
      deliver();
      first = false;
      failures = 0;
    } else if (++failures >= failuresToGiveUp) {
      end(Error{streamStopped, "the compositor stopped copying display " + std::to_string(filter_.display.displayID)});
      return;
    }
    // The next copy is asked for one interval after this one was; intervals
    // that passed while waiting for a change merge into this one.
    auto now = Clock::now();
    next += interval;
    if (next < now) next = now;
    if (!waitUntil(next)) return;
  }
}

bool WaylandStream::copied() {
  uint32_t id = filter_.display.displayID;
  auto mode = [&] {
    auto state = connection_->state(id);
    return state ? std::pair(state->modeWidth, state->modeHeight) : std::pair(0, 0);
  };
  auto asked = mode();
  auto done = [&] {
    return copies_->state() != Screencopy::State::waiting || stopping_ || !connection_->output(id) || mode() != asked;
  };
  if (!connection_->dispatch(done, std::nullopt, wake_)) {
    end(connection_->failure());
    return false;
  }
  if (stopping_) return false;
  if (copies_->state() == Screencopy::State::failed) {
    if (copies_->problem()) {
      end(*copies_->problem());
      return false;
    }
    // A copy fails when its output goes away: learn whether it did.
    if (!connection_->roundtrip()) {
      end(connection_->failure());
      return false;
    }
  }
  if (!connection_->output(id)) {
    end(gone());
    return false;
  }
  return true;
}

bool WaylandStream::waitUntil(Clock::time_point deadline) {
  uint32_t id = filter_.display.displayID;
  if (!connection_->dispatch([&] { return stopping_ || !connection_->output(id); }, deadline, wake_)) {
    end(connection_->failure());
    return false;
  }
  if (stopping_) return false;
  if (!connection_->output(id)) {
    end(gone());
    return false;
  }
  return true;
}

void WaylandStream::deliver() {
  ScreenBuffer buffer = copies_->buffer();
  FrameView whole{nullptr, slots_->width(), slots_->height(), originX_, originY_};
  if (buffer.width != copiedWidth_ || buffer.height != copiedHeight_) {
    // The output changed its mode: nothing painted from the old size holds.
    slots_->changed({0, 0, whole.width, whole.height});
    copiedWidth_ = buffer.width;
    copiedHeight_ = buffer.height;
  }
  for (auto& box : copies_->damage()) slots_->changed(damagedPart(buffer, whole, box));
  auto* slot = slots_->take();
  if (!slot) return;  // every slot is still held: this change goes with the next copy
  FrameView view = slots_->view(slot);
  view.originX = originX_;
  view.originY = originY_;
  copyPart(buffer, view, slots_->stale(slot));

  SampleBuffer sample;
  sample.attachments = std::vector<Attachment>{{{frameInfoStatus, int64_t(complete)}}};
  sample.imageBuffer = slots_->hand(slot);
  sample.presentationTime = monotonicNow();
  outputs_.deliver(*this, sample, OutputType::screen);
}

Error WaylandStream::gone() const {
  auto& d = filter_.display;
  return {streamStopped, "display " + std::to_string(d.displayID) + " (" + d.name + ") went away"};
}

void WaylandStream::end(const Error& error) {
  if (ended_.exchange(true) || stopping_) return;
  delegate_.streamDidStop(*this, error);
}

}  // namespace platform::wayland
