#include "platform/pulse/pulse_sound.h"

#include "platform/pulse/sound_stream.h"

namespace platform {

std::unique_ptr<Stream> PulseSound::makeStream(const ContentFilter& filter, const StreamConfiguration&,
                                               StreamDelegate& delegate) {
  return std::make_unique<pulse::SoundStream>(filter, delegate);
}

}  // namespace platform
