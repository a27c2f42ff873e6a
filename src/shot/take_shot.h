// The shot job: one image of a display or a window, written as PNG, answered
// with its size and scale; then the process ends. Throws platform::Error when
// the capture fails.
#pragma once

#include "front/options.h"
#include "platform/capture.h"
#include "platform/content.h"
#include "platform/picture_files.h"

[[noreturn]] void takeShot(const Options& options, platform::Capture& capture, platform::PictureFiles& pictures,
                          const platform::ShareableContent& content, const platform::Display& display);
