// The audio job: records the sound of a display, or of one application, onto
// standard output. Returns once the sound runs; throws platform::Error when the
// stream cannot be set up or started.
#pragma once

#include "platform/content.h"

void startSound(const platform::ShareableContent& content, const platform::Display& display);
