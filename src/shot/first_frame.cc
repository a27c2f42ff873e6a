#include "shot/first_frame.h"

platform::Picture FirstFrame::wait(platform::Stream& stream) {
  std::promise<Outcome> completion;
  auto outcome = completion.get_future();
  {
    // Stored before the start, so no frame or stop can come without a receiver.
    std::lock_guard guard(lock_);
    waiting_ = std::move(completion);
  }
  stream.startCapture([this](std::optional<platform::Error> error) {
    if (error) finish(*error);
  });
  auto result = outcome.get();
  if (auto* error = std::get_if<platform::Error>(&result)) throw *error;
  return std::get<platform::Picture>(std::move(result));
}

void FirstFrame::finish(Outcome outcome) {
  std::optional<std::promise<Outcome>> waiting;
  {
    std::lock_guard guard(lock_);
    waiting.swap(waiting_);
  }
  if (waiting) waiting->set_value(std::move(outcome));
}

void FirstFrame::stream(platform::Stream&, const platform::SampleBuffer& sample, platform::OutputType type) {
  if (!platform::isCompleteScreenFrame(sample, type)) return;
  if (!sample.imageBuffer) return;
  auto image = platform::pictureFromPixelBuffer(*sample.imageBuffer);
  if (!image) return;
  finish(std::move(*image));
}

void FirstFrame::streamDidStop(platform::Stream&, const platform::Error& error) { finish(error); }
