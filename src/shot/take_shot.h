// The shot job: one image of a display or a window, written as PNG, answered
// with its size and scale; then the process ends. Throws platform::Error when
// the capture fails.
#pragma once

#include "front/options.h"
#include "platform/capture.h"
#include "platform/content.h"

[[noreturn]] void takeShot(const Options& options, platform::Capture& capture,
                          const platform::ShareableContent& content, const platform::Display& display);
