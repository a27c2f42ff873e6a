#include "platform/stream.h"

#include <future>

namespace platform {

void startAndWait(Stream& stream) {
  std::promise<std::optional<Error>> started;
  auto result = started.get_future();
  stream.startCapture([&started](std::optional<Error> error) { started.set_value(std::move(error)); });
  if (auto error = result.get()) throw *error;
}

std::optional<Error> StreamOutputs::add(StreamOutput& output, OutputType type, std::shared_ptr<SerialQueue> queue) {
  if (!queue) return Error{failedToStart, "an output needs a queue"};
  std::lock_guard guard(lock_);
  outputs_.push_back({&output, type, std::move(queue)});
  return std::nullopt;
}

void StreamOutputs::deliver(Stream& stream, const SampleBuffer& sample, OutputType type) {
  std::lock_guard guard(lock_);
  for (auto& o : outputs_)
    if (o.type == type)
      o.queue->async([&stream, output = o.output, sample, type] { output->stream(stream, sample, type); });
}

}  // namespace platform
