// The video job: streams the display or the window that the options name as
// packed frames on standard output at the options' rate. Returns once the
// stream runs; the frames go on until the process ends. Throws
// platform::Error when the stream cannot be set up or started.
#pragma once

#include "front/options.h"
#include "platform/capture.h"
#include "platform/content.h"

void streamVideo(const Options& options, platform::Capture& capture, const platform::ShareableContent& content,
                 const platform::Display& display);
