#include "platform/wayland/portal/portal_stream.h"

#include <time.h>

#include "platform/frame_memory.h"
#include "platform/wayland/connection.h"
#include "platform/wayland/outputs.h"
#include "platform/wayland/portal/pipewire_consumer.h"
#include "platform/wayland/portal/screencast_portal.h"
#include "platform/wayland/screencopy.h"
#include "platform/wayland/slots.h"
#include "platform/wayland/target.h"

namespace platform::wayland::portal {

namespace {

double monotonicNow() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int framesPerSecond(Time interval) {
  if (interval.value <= 0 || interval.timescale <= 0) return 60;
  return std::max(1, int(interval.timescale / interval.value));
}

std::string named(const Display& d) { return "display " + std::to_string(d.displayID) + " (" + d.name + ")"; }

// A compositor that takes longer than this to copy once is left to the portal.
constexpr auto copyPatience = std::chrono::seconds(1);

}  // namespace

PortalStream::PortalStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate,
                           Tokens tokens)
    : filter_(std::move(filter)),
      configuration_(std::move(configuration)),
      delegate_(delegate),
      tokens_(std::move(tokens)) {}

PortalStream::~PortalStream() {
  stopping_ = true;
  std::lock_guard lock(lock_);
  if (setUpThread_.joinable()) {
    if (setUpThread_.get_id() == std::this_thread::get_id())
      setUpThread_.detach();
    else
      setUpThread_.join();
  }
  consumer_.reset();
  portal_.reset();
}

std::optional<Error> PortalStream::addStreamOutput(StreamOutput& output, OutputType type,
                                                   std::shared_ptr<SerialQueue> queue) {
  return outputs_.add(output, type, std::move(queue));
}

void PortalStream::startCapture(Completion completion) {
  if (started_.exchange(true)) {
    completion(Error{failedToStart, "the stream has already been started"});
    return;
  }
  std::lock_guard lock(lock_);
  setUpThread_ = std::thread([this, completion = std::move(completion)] {
    pthread_setname_np(pthread_self(), "pellix.portal");
    try {
      setUp();
    } catch (const Error& error) {
      ended_ = true;
      completion(error);
      return;
    }
    completion(std::nullopt);
  });
}

void PortalStream::stopCapture(Completion completion) {
  if (!started_) {
    completion(Error{failedToStart, "the stream has not been started"});
    return;
  }
  stopping_ = true;
  {
    std::lock_guard lock(lock_);
    if (setUpThread_.joinable() && setUpThread_.get_id() != std::this_thread::get_id()) setUpThread_.join();
    // No event runs once the consumer has stopped: the bus is ours again.
    if (consumer_) consumer_->stop();
    if (portal_) portal_->close();
  }
  completion(std::nullopt);
}

std::string PortalStream::note() {
  std::lock_guard lock(noteLock_);
  return note_;
}

void PortalStream::setUp() {
  if (filter_.kind == ContentFilter::Kind::window) throw windowsRefused();
  if (!filter_.applications.empty()) throw leavingOutRefused();
  uint32_t asked = filter_.display.displayID;
  portal_ = std::make_unique<ScreencastPortal>();
  Grant grant = portal_->start(configuration_.showsCursor, tokens_.load(asked));
  node_ = grant.streams.front().node;

  Connection connection;
  auto listed = displays(connection.outputs());
  bool matched = matchingDisplay(grant.streams.front(), listed).has_value();
  Display shown = sharedDisplay(grant.streams.front(), listed);
  keepToken(grant.restoreToken, shown.displayID, asked);
  if (matched && shown.displayID != asked)
    throw Error{failedToStart, "the desktop shared " + named(shown) + ", not " + named(filter_.display) +
                                   " that was asked for"};

  auto state = connection.state(shown.displayID);
  if (!state) throw Error{failedToStart, named(shown) + " went away"};
  area_ = area(*state, configuration_.sourceRect);
  int width = configuration_.width > 0 ? int(configuration_.width) : area_.width;
  int height = configuration_.height > 0 ? int(configuration_.height) : area_.height;
  if (width <= 0 || height <= 0) throw Error{failedToStart, "the frame size is empty"};
  slots_ = std::make_unique<Slots>(configuration_.queueDepth, width, height);
  // Unmatched, the stream may show another output than the copy would.
  if (matched && connection.screencopy()) copyFirstFrame(connection, shown.displayID);

  PipewireConsumer::Events events;
  events.frame = [this](const ScreenBuffer& buffer, const std::optional<std::vector<Box>>& damage) {
    deliver(buffer, damage);
  };
  events.stopped = [this](const Error& error) { end(error); };
  events.readable = [this] {
    if (auto closed = portal_->process()) end(*closed);
  };
  int remote = portal_->openPipeWireRemote();
  consumer_ = std::make_unique<PipewireConsumer>(remote, node_, framesPerSecond(configuration_.minimumFrameInterval),
                                                 std::move(events));
  consumer_->watch(portal_->fd());
}

void PortalStream::keepToken(const std::optional<std::string>& token, uint32_t shown, uint32_t asked) {
  if (!token) {
    tokens_.forget(asked);  // spent
    return;
  }
  if (tokens_.save(shown, *token)) return;
  addNote(tokens_.kept() ? "the desktop's permission could not be kept in " + tokens_.path(shown) + ": it will ask again"
                         : "neither XDG_STATE_HOME nor HOME is set, so the desktop's permission is not kept: it will "
                           "ask again");
}

void PortalStream::addNote(const std::string& line) {
  std::lock_guard lock(noteLock_);
  note_ += (note_.empty() ? "" : "; ") + line;
}

Display PortalStream::sharedDisplay(const SharedStream& stream, const std::vector<Display>& displays) {
  if (displays.empty()) throw Error{failedToStart, "the Wayland compositor lists no display"};
  if (auto match = matchingDisplay(stream, displays)) return displays[*match];
  std::string seen = stream.width && stream.height
                         ? std::to_string(*stream.width) + "x" + std::to_string(*stream.height) +
                               (stream.x && stream.y ? " at " + std::to_string(*stream.x) + "," + std::to_string(*stream.y)
                                                     : "")
                         : "of no given size";
  addNote("the desktop's stream (" + seen + ") matches no listed display: it is taken as the main display, " +
          named(displays.front()));
  return displays.front();
}

void PortalStream::copyFirstFrame(Connection& connection, uint32_t displayID) {
  wl_output* output = connection.output(displayID);
  if (!output) return;
  Screencopy copies(connection, output, configuration_.showsCursor);
  copies.request(false);
  auto done = [&] { return copies.state() != Screencopy::State::waiting; };
  if (!connection.dispatch(done, Connection::Clock::now() + copyPatience)) return;
  if (copies.state() == Screencopy::State::ready) deliver(copies.buffer(), std::nullopt);
}

// A picture that changed all over is copied once, into frame memory the
// sink keeps as it is; one that changed in part goes through a slot, saying
// which part changed, so the sink copies only that.
void PortalStream::deliver(const ScreenBuffer& buffer, const std::optional<std::vector<Box>>& damage) {
  FrameView whole{nullptr, slots_->width(), slots_->height(), area_.x, area_.y};
  Box all{0, 0, whole.width, whole.height};
  bool resized = buffer.width != deliveredWidth_ || buffer.height != deliveredHeight_;
  Box change;
  if (resized || !damage) {
    change = all;
    deliveredWidth_ = buffer.width;
    deliveredHeight_ = buffer.height;
  } else {
    for (auto& box : *damage) change = united(change, damagedPart(buffer, whole, box));
  }
  slots_->changed(change);
  if (unhanded_) unhanded_ = united(*unhanded_, change);

  SampleBuffer sample;
  sample.attachments = std::vector<Attachment>{{{frameInfoStatus, int64_t(complete)}}};
  if (!unhanded_ || *unhanded_ == all) {
    size_t bytes = size_t(all.width) * size_t(all.height) * 4;
    auto* memory = static_cast<uint8_t*>(frameMemory(bytes));
    std::shared_ptr<const void> owner(memory, [bytes](const void* m) { releaseFrameMemory(const_cast<void*>(m), bytes); });
    copyPart(buffer, {memory, all.width, all.height, area_.x, area_.y}, all);
    sample.imageBuffer = PixelBuffer{memory, size_t(all.width) * 4, size_t(all.width), size_t(all.height), owner, true};
  } else {
    auto* slot = slots_->take();
    if (!slot) return;  // every slot is still held: this change goes with the next frame
    FrameView view = slots_->view(slot);
    view.originX = area_.x;
    view.originY = area_.y;
    copyPart(buffer, view, slots_->stale(slot));
    sample.imageBuffer = slots_->hand(slot);
    sample.changed = PixelBox{size_t(unhanded_->x), size_t(unhanded_->y), size_t(unhanded_->width),
                              size_t(unhanded_->height)};
  }
  unhanded_ = Box{};
  sample.presentationTime = monotonicNow();
  outputs_.deliver(*this, sample, OutputType::screen);
}

void PortalStream::end(const Error& error) {
  if (ended_.exchange(true) || stopping_) return;
  delegate_.streamDidStop(*this, error);
}

}  // namespace platform::wayland::portal
