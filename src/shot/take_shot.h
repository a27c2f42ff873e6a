// The shot job: one image of a display or a window, written as PNG, answered
// with its size and scale; then the process ends. Throws platform::Error when
// the capture fails.
#pragma once

#include "platform/content.h"

[[noreturn]] void takeShot(const platform::ShareableContent& content, const platform::Display& display);
