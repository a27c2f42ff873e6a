// The audio job: records the sound of a display, or of one application, onto
// standard output. Returns once the sound runs; throws platform::Error when the
// stream cannot be set up or started.
#pragma once

#include <memory>
#include <optional>

#include "front/options.h"
#include "platform/capture.h"
#include "platform/content.h"
#include "platform/queue.h"
#include "platform/stream.h"
#include "sound/sound.h"

void startSound(const Options& options, platform::Capture& capture, const platform::ShareableContent& content,
                const platform::Display& display);

// What keeps a running sound capture alive until the process ends: the stream,
// its writer, and the "pellix.sound" queue that carries both outputs and the
// clock-keeping timer. Set once startSound succeeds; read by nobody.
// The writer is declared first so that it goes last: the queue, whose timer
// and outputs call it, must have stopped before it is freed.
struct Sounding {
  std::unique_ptr<Sound> sound;
  std::unique_ptr<platform::Stream> stream;
  std::shared_ptr<platform::SerialQueue> timer;
};
extern std::optional<Sounding> sounding;
