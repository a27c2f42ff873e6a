#include "platform/wayland/one_shot.h"

#include "platform/wayland/screencopy.h"
#include "platform/wayland/target.h"

namespace platform::wayland {

namespace {

// A compositor that takes longer than this to copy once has hung.
constexpr auto patience = std::chrono::seconds(10);

}  // namespace

Picture oneShot(Connection& connection, const ContentFilter& filter, const StreamConfiguration& configuration) {
  Target target = chooseTarget(connection, filter, configuration);
  Screencopy copies(connection, target.output, configuration.showsCursor);
  copies.request(false);
  uint32_t id = filter.display.displayID;
  std::string display = "display " + std::to_string(id) + " (" + displayName(target.state) + ")";
  auto done = [&] { return copies.state() != Screencopy::State::waiting || !connection.output(id); };
  if (!connection.dispatch(done, Connection::Clock::now() + patience)) throw connection.failure();
  if (!connection.output(id)) throw Error{failedToStart, display + " went away"};
  switch (copies.state()) {
    case Screencopy::State::ready:
      break;
    case Screencopy::State::failed:
      throw copies.problem().value_or(Error{failedToStart, "the compositor could not copy " + display});
    default:
      throw Error{failedToStart, "the compositor did not copy " + display + " within 10 s"};
  }
  auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(target.width) * size_t(target.height) * 4);
  FrameView frame{pixels->data(), target.width, target.height, target.area.x, target.area.y};
  copyPart(copies.buffer(), frame, {0, 0, target.width, target.height});
  return {target.width, target.height, std::move(pixels)};
}

}  // namespace platform::wayland
