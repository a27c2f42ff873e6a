#include "platform/fake/fake_capture.h"

#include <cstring>
#include <future>

namespace platform {

std::optional<Error> FakeStream::addStreamOutput(StreamOutput& output, OutputType type,
                                                 std::shared_ptr<SerialQueue> queue) {
  if (addOutputError) return addOutputError;
  outputs.push_back({&output, type, std::move(queue)});
  return std::nullopt;
}

void FakeStream::startCapture(Completion completion) {
  if (!startError) started = true;
  completion(startError);
}

void FakeStream::stopCapture(Completion completion) {
  stopped = true;
  completion(stopError);
}

void FakeStream::post(const SampleBuffer& sample, OutputType type) {
  for (auto& output : outputs)
    if (output.type == type)
      output.queue->async([this, output = output.output, sample, type] { output->stream(*this, sample, type); });
}

void FakeStream::deliver(const SampleBuffer& sample, OutputType type) {
  for (auto& output : outputs) {
    if (output.type != type) continue;
    std::promise<void> taken;
    output.queue->async([&] {
      output.output->stream(*this, sample, type);
      taken.set_value();
    });
    taken.get_future().wait();
  }
}

ShareableContent FakeCapture::shareableContent() {
  if (listingError) throw *listingError;
  return content;
}

std::optional<DisplayMode> FakeCapture::displayMode(uint32_t displayID) {
  auto mode = modes.find(displayID);
  if (mode == modes.end()) return std::nullopt;
  return mode->second;
}

ContentFilter FakeCapture::windowFilter(const Window& window) {
  ContentFilter filter;
  filter.kind = ContentFilter::Kind::window;
  filter.window = window;
  filter.contentRect = {0, 0, window.frame.width, window.frame.height};
  filter.pointPixelScale = windowScale;
  return filter;
}

Picture FakeCapture::captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) {
  shotFilter = filter;
  shotConfiguration = configuration;
  if (screenshotError) throw *screenshotError;
  auto pixels = std::make_shared<std::vector<uint8_t>>(size_t(configuration.width * configuration.height * 4));
  for (size_t i = 0; i < pixels->size(); i += 4) memcpy(pixels->data() + i, &screenshotPixel, 4);
  return {configuration.width, configuration.height, pixels};
}

std::unique_ptr<Stream> FakeCapture::makeStream(const ContentFilter& filter,
                                                const StreamConfiguration& configuration,
                                                StreamDelegate& delegate) {
  auto stream = std::make_unique<FakeStream>(filter, configuration, delegate);
  std::lock_guard lock(mutex_);
  streams_.push_back(stream.get());
  return stream;
}

FakeStream* FakeCapture::lastStream() {
  std::lock_guard lock(mutex_);
  return streams_.empty() ? nullptr : streams_.back();
}

SampleBuffer screenSample(size_t width, size_t height, size_t bytesPerRow, int64_t status,
                          uint32_t (*pixel)(size_t x, size_t y)) {
  auto memory = std::make_shared<std::vector<uint8_t>>(bytesPerRow * height, 0xEE);
  for (size_t y = 0; y < height; y++)
    for (size_t x = 0; x < width; x++) {
      uint32_t value = pixel(x, y);
      memcpy(memory->data() + y * bytesPerRow + x * 4, &value, 4);
    }
  SampleBuffer sample;
  sample.attachments = std::vector<Attachment>{{{frameInfoStatus, status}}};
  sample.imageBuffer = PixelBuffer{memory->data(), bytesPerRow, width, height, memory};
  return sample;
}

}  // namespace platform
