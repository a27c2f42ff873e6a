// A capture stream: it delivers sample buffers to its outputs, each on the
// queue it was added with, and tells its delegate when it stops with an error.
// Outputs, the delegate and the queues must outlive the stream; in this tool
// nothing is torn down before the process ends.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/queue.h"
#include "platform/sample.h"

namespace platform {

class Stream;

class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  // Runs on the output's queue, one call at a time.
  virtual void stream(Stream& stream, const SampleBuffer& sample, OutputType type) = 0;
};

class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  // Runs on a thread of the backend's choosing; the stream has stopped.
  virtual void streamDidStop(Stream& stream, const Error& error) = 0;
};

class Stream {
 public:
  using Completion = std::function<void(std::optional<Error>)>;
  virtual ~Stream() = default;
  // An error when the output cannot be added.
  virtual std::optional<Error> addStreamOutput(StreamOutput& output, OutputType type,
                                               std::shared_ptr<SerialQueue> queue) = 0;
  // Completions run once, on a thread of the backend's choosing.
  virtual void startCapture(Completion completion) = 0;
  virtual void stopCapture(Completion completion) = 0;
  // A progress line on what the start found worth saying, or empty. Read
  // once the start has completed.
  virtual std::string note() { return {}; }
};

// Starts the capture and waits for its completion; throws its error.
void startAndWait(Stream& stream);

// The outputs a stream delivers to, each on its own queue; any thread.
class StreamOutputs {
 public:
  // An error when there is no queue.
  std::optional<Error> add(StreamOutput& output, OutputType type, std::shared_ptr<SerialQueue> queue);
  // Hands `sample` to every output of `type`, each on its queue.
  void deliver(Stream& stream, const SampleBuffer& sample, OutputType type);

 private:
  struct Output {
    StreamOutput* output;
    OutputType type;
    std::shared_ptr<SerialQueue> queue;
  };
  std::mutex lock_;
  std::vector<Output> outputs_;
};

}  // namespace platform
