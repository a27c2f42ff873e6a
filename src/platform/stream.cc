#include "platform/stream.h"

#include <future>

namespace platform {

void startAndWait(Stream& stream) {
  std::promise<std::optional<Error>> started;
  auto result = started.get_future();
  stream.startCapture([&started](std::optional<Error> error) { started.set_value(std::move(error)); });
  if (auto error = result.get()) throw *error;
}

}  // namespace platform
