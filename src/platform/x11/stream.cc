#include "platform/x11/stream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>

namespace platform::x11 {

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

}  // namespace

X11Stream::X11Stream(std::string display, ContentFilter filter, StreamConfiguration configuration,
                     StreamDelegate& delegate)
    : display_(std::move(display)),
      filter_(std::move(filter)),
      configuration_(std::move(configuration)),
      delegate_(delegate),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

X11Stream::~X11Stream() {
  stopping_ = true;
  uint64_t one = 1;
  ssize_t ignored = write(wake_, &one, sizeof one);
  (void)ignored;
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

std::optional<Error> X11Stream::addStreamOutput(StreamOutput& output, OutputType type,
                                                std::shared_ptr<SerialQueue> queue) {
  return outputs_.add(output, type, std::move(queue));
}

void X11Stream::startCapture(Completion completion) {
  if (started_.exchange(true)) {
    completion(Error{failedToStart, "the stream has already been started"});
    return;
  }
  std::lock_guard lock(threadLock_);
  try {
    thread_ = std::thread([this, completion] { run(completion); });
  } catch (const std::system_error& refused) {
    completion(Error{failedToStart, "cannot start the capture thread: " + refused.code().message()});
  }
}

void X11Stream::stopCapture(Completion completion) {
  if (!started_) {
    completion(Error{failedToStart, "the stream has not been started"});
    return;
  }
  stopping_ = true;
  uint64_t one = 1;
  ssize_t ignored = write(wake_, &one, sizeof one);
  (void)ignored;
  {
    std::lock_guard lock(threadLock_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }
  completion(std::nullopt);
}

void X11Stream::run(Completion completion) {
  pthread_setname_np(pthread_self(), "pellix.x11");
  if (auto error = setUp()) {
    ended_ = true;
    completion(error);
    return;
  }
  completion(std::nullopt);
  auto interval = intervalOf(configuration_.minimumFrameInterval);
  auto next = Clock::now();
  while (waitUntil(next)) {
    Made made = frame();
    if (ended_ || stopping_) return;
    if (made == Made::idle) {
      // Nothing changed this tick: a change that comes before the next one is
      // grabbed at once, and the ticks follow it (a source that changes at the
      // frame rate is then caught every time, whatever its phase).
      auto last = next;
      if (!waitUntil(last + interval, true)) return;
      if (painter_->source().changed() && Clock::now() < last + interval) {
        made = frame();
        if (ended_ || stopping_) return;
        if (made == Made::complete) {
          next = Clock::now() + interval;
          continue;
        }
      }
      next = last + interval;  // the next tick, due now
      continue;
    }
    // Ticks missed while a frame took long merge into the next one.
    auto now = Clock::now();
    next += interval;
    if (next < now) next += interval * ((now - next) / interval + 1);
  }
}

std::optional<Error> X11Stream::setUp() {
  try {
    painter_ = std::make_unique<Painter>(display_, filter_, configuration_);
    pool_ = std::make_unique<BufferPool>(painter_->connection(), configuration_.queueDepth, painter_->width(),
                                         painter_->height());
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

bool X11Stream::waitUntil(Clock::time_point deadline, bool orChange) {
  auto& connection = *painter_->connection();
  auto& source = painter_->source();
  auto* c = connection.xcb();
  for (;;) {
    xcb_flush(c);
    while (auto* event = xcb_poll_for_event(c)) {
      std::optional<Error> error;
      if (event->response_type != 0) error = source.take(event);
      free(event);
      if (error) {
        end(*error);
        return false;
      }
    }
    if (connection.broken()) {
      end(connection.failure());
      return false;
    }
    if (stopping_) return false;
    auto now = Clock::now();
    if (now >= deadline || (orChange && source.changed())) return true;
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
    timespec timeout{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
    pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {wake_, POLLIN, 0}};
    ppoll(fds, 2, &timeout, nullptr);
  }
}

X11Stream::Made X11Stream::frame() {
  if (!painter_->changed()) {
    deliver(idle, std::nullopt);
    return Made::idle;
  }
  auto* slot = pool_->take();
  if (!slot) return Made::none;  // every buffer is still held: skip this frame
  Image out{slot->memory.data(), pool_->width(), pool_->height(), size_t(pool_->width()) * 4};
  try {
    switch (painter_->paint(out, &slot->memory, slot->painted)) {
      case Grab::done:
        break;
      case Grab::broken:
        end(painter_->connection()->failure());
        return Made::none;
      case Grab::refused:
        end(Error{userDeclined, "the X server stopped letting this client read the screen"});
        return Made::none;
      case Grab::failed:
        return Made::none;  // gone for the moment (unmapped meanwhile): the next change tells
    }
  } catch (const Error& error) {
    end(error);
    return Made::none;
  }
  deliver(complete, pool_->hand(slot), painter_->lastChange());
  return Made::complete;
}

void X11Stream::deliver(FrameStatus status, std::optional<PixelBuffer> pixels, std::optional<Box> changed) {
  SampleBuffer sample;
  sample.attachments = std::vector<Attachment>{{{frameInfoStatus, int64_t(status)}}};
  if (pixels && changed) {
    Box within = intersection(*changed, {0, 0, int(pixels->width), int(pixels->height)});
    sample.changed = within.empty() ? PixelBox{} : PixelBox{size_t(within.x), size_t(within.y), size_t(within.width),
                                                              size_t(within.height)};
  }
  sample.imageBuffer = std::move(pixels);
  sample.presentationTime = monotonicNow();
  outputs_.deliver(*this, sample, OutputType::screen);
}

void X11Stream::end(const Error& error) {
  if (ended_.exchange(true) || stopping_) return;
  delegate_.streamDidStop(*this, error);
}

}  // namespace platform::x11
