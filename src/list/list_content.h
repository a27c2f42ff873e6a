// The list job: one answer line describing what the capture jobs can see,
// so that a parent can find display and window ids. Ends the process.
#pragma once

#include "platform/capture.h"
#include "platform/content.h"

[[noreturn]] void listContent(platform::Capture& capture, const platform::ShareableContent& content);
