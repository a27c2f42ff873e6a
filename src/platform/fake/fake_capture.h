// A scripted screen capture service for unit tests: the test sets the content,
// the display modes, the permission and the host clock, and drives each stream
// by hand: sample buffers of any shape, start errors, stops with any error.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "platform/capture.h"

namespace platform {

class FakeStream : public Stream {
 public:
  FakeStream(ContentFilter filter, StreamConfiguration configuration, StreamDelegate& delegate)
      : filter(std::move(filter)), configuration(std::move(configuration)), delegate(delegate) {}

  std::optional<Error> addStreamOutput(StreamOutput& output, OutputType type,
                                       std::shared_ptr<SerialQueue> queue) override;
  void startCapture(Completion completion) override;
  void stopCapture(Completion completion) override;

  // Hands `sample` to every output added for `type`, on its queue, and waits
  // until they have taken it.
  void deliver(const SampleBuffer& sample, OutputType type);
  // The same without waiting, as a live service hands them over.
  void post(const SampleBuffer& sample, OutputType type);
  // Tells the delegate that the stream stopped with `error`.
  void stop(const Error& error) { delegate.streamDidStop(*this, error); }

  const ContentFilter filter;
  const StreamConfiguration configuration;
  StreamDelegate& delegate;

  // Scripted outcomes.
  std::optional<Error> addOutputError;
  std::optional<Error> startError;
  std::optional<Error> stopError;

  // What happened.
  struct Output {
    StreamOutput* output;
    OutputType type;
    std::shared_ptr<SerialQueue> queue;
  };
  std::vector<Output> outputs;
  std::atomic<bool> started = false;
  std::atomic<bool> stopped = false;
};

class FakeCapture : public Capture {
 public:
  bool allowed() override { return permitted; }
  uint32_t mainDisplayID() override { return mainDisplay; }
  ShareableContent shareableContent() override;
  std::optional<DisplayMode> displayMode(uint32_t displayID) override;
  ContentFilter windowFilter(const Window& window) override;
  std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                     StreamDelegate& delegate) override;
  bool takesScreenshots() override { return screenshots; }
  // A picture of the configured size, each pixel `screenshotPixel`, or the scripted error.
  Picture captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) override;
  double hostNow() override { return host.load(); }
  double wallNow() override { return wall.load(); }

  // The last stream made, or null.
  FakeStream* lastStream();

  // Scripted state.
  bool permitted = true;
  uint32_t mainDisplay = 1;
  ShareableContent content;
  std::optional<Error> listingError;
  std::map<uint32_t, DisplayMode> modes;
  float windowScale = 1;
  bool screenshots = true;
  std::optional<Error> screenshotError;
  uint32_t screenshotPixel = 0xff204080;
  std::optional<ContentFilter> shotFilter;
  std::optional<StreamConfiguration> shotConfiguration;
  std::atomic<double> host = 1000;
  std::atomic<double> wall = 1.7e9;

 private:
  std::mutex mutex_;
  std::vector<FakeStream*> streams_;
};

// A screen sample of `width` x `height` BGRA pixels, rows `bytesPerRow` apart
// (at least width * 4), with the given frame status; pixel (x, y) holds
// `pixel(x, y)`, the bytes of a row's padding 0xEE.
SampleBuffer screenSample(size_t width, size_t height, size_t bytesPerRow, int64_t status,
                          uint32_t (*pixel)(size_t x, size_t y));

}  // namespace platform
