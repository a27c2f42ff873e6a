// One recognition, with its single fallback from the accurate to the fast level.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"
#include "text/service.h"

// A fresh request with the service's fixed settings: the languages in order,
// no language correction, no minimum text height.
platform::TextRecognitionRequest textRequest(
    const std::vector<std::string>& languages,
    platform::RecognitionLevel level = platform::RecognitionLevel::accurate);

// Recognizes `image` at the service's level and returns the performed request.
// When the accurate level fails and the fast level then succeeds, the service
// switches to the fast level for good and the marker records why. Throws the
// last attempt's platform::Error when no attempt succeeds.
platform::TextRecognitionRequest recognize(TextService& service, const platform::Image& image);
