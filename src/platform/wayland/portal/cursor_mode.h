// How the portal draws the pointer into the stream's frames.
#pragma once

#include <cstdint>
#include <optional>

namespace platform::wayland::portal {

// The portal's cursor modes, bits of its AvailableCursorModes.
constexpr uint32_t cursorHidden = 1, cursorEmbedded = 2, cursorMetadata = 4;

// The mode to ask for: embedded when the pointer is `shown`, hidden when not,
// as far as `available` offers it; none (the portal's default) when it does
// not offer the one wanted.
std::optional<uint32_t> cursorMode(bool shown, uint32_t available);

}  // namespace platform::wayland::portal
