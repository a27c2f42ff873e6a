// Media samples as a stream delivers them: one pixel buffer (screen) or a list
// of audio buffers (audio), stamped with host-clock times. A sample buffer and
// everything it points to stay valid while the receiving callback runs; a
// backend must not reuse a pixel buffer's memory while a SampleBuffer that
// holds it is alive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

enum class OutputType { screen = 0, audio = 1 };

// The frame-info status key of a screen sample's first attachment.
inline const std::string frameInfoStatus = "SCStreamFrameInfoStatus";
enum FrameStatus : int64_t { complete = 0, idle = 1, blank = 2, suspended = 3, started = 4, stopped = 5 };

using AttachmentValue = std::variant<int64_t, double, std::string>;
using Attachment = std::map<std::string, AttachmentValue>;

// Memory of 4-byte BGRA pixels, rows from the top, `bytesPerRow` apart.
struct PixelBuffer {
  const uint8_t* baseAddress = nullptr;  // none when null
  size_t bytesPerRow = 0;
  size_t width = 0, height = 0;
  std::shared_ptr<const void> owner;  // keeps the memory alive
  // The memory is frame memory (platform/frame_memory.h) that never changes
  // once handed and holds no other picture later: a sink may keep it as its
  // frame instead of copying it.
  bool keepable = false;
};

// A rectangle of a pixel buffer's pixels.
struct PixelBox {
  size_t x = 0, y = 0, width = 0, height = 0;
};

struct AudioStreamBasicDescription {
  double mSampleRate = 0;
  uint32_t mFormatID = 0;
  uint32_t mFormatFlags = 0;
  uint32_t mBytesPerPacket = 0;
  uint32_t mFramesPerPacket = 0;
  uint32_t mBytesPerFrame = 0;
  uint32_t mChannelsPerFrame = 0;
  uint32_t mBitsPerChannel = 0;
  uint32_t mReserved = 0;
};
constexpr uint32_t formatLinearPCM = 0x6c70636d;  // 'lpcm'
constexpr uint32_t formatFlagIsFloat = 1u << 0;
constexpr uint32_t formatFlagIsPacked = 1u << 3;
constexpr uint32_t formatFlagIsNonInterleaved = 1u << 5;

struct AudioBuffer {
  const void* data = nullptr;  // none when null
  size_t byteSize = 0;
  uint32_t numberChannels = 0;
};

struct SampleBuffer {
  bool isValid = true;
  // Screen samples.
  std::optional<std::vector<Attachment>> attachments;
  std::optional<PixelBuffer> imageBuffer;
  // Where the picture may differ from the stream's previous complete frame,
  // when the stream knows (the same buffer size, nothing else changed); none
  // means anywhere.
  std::optional<PixelBox> changed;
  // Audio samples. A missing `audioBufferList` is a list that cannot be had.
  std::optional<AudioStreamBasicDescription> audioDescription;
  int64_t numSamples = 0;
  std::optional<std::vector<AudioBuffer>> audioBufferList;
  double presentationTime = 0;  // host-clock seconds of the first frame
  std::shared_ptr<const void> owner;  // keeps audio data alive
};

}  // namespace platform

namespace platform {

// A valid screen sample whose first attachment says: complete frame.
bool isCompleteScreenFrame(const SampleBuffer& sample, OutputType type);

}  // namespace platform
