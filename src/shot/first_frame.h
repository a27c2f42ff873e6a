// Waits for the first complete frame of a stream and hands it over as an
// image; a failed start or a stop with an error is handed over instead.
// The first outcome wins; later ones are dropped.
#pragma once

#include <future>
#include <mutex>
#include <optional>
#include <variant>

#include "platform/picture.h"
#include "platform/stream.h"

class FirstFrame : public platform::StreamOutput, public platform::StreamDelegate {
 public:
  // Starts `stream` and waits for the outcome: the image, or throws the error.
  // Called once.
  platform::Picture wait(platform::Stream& stream);

  void stream(platform::Stream& stream, const platform::SampleBuffer& sample, platform::OutputType type) override;
  void streamDidStop(platform::Stream& stream, const platform::Error& error) override;

 private:
  using Outcome = std::variant<platform::Picture, platform::Error>;
  void finish(Outcome outcome);

  std::mutex lock_;
  std::optional<std::promise<Outcome>> waiting_;  // guarded by lock_
};
