#pragma once

#include "watch_output.pb.h"

#include <cstdint>
#include <optional>
#include <span>

namespace zt::messages {

// Decodes the bytes of one write as an Update: unknown fields kept, nesting
// limit 100, empty input gives the default Update without running the
// decoder. Malformed input gives nothing at all. Prints nothing.
std::optional<Update> decodeUpdate(std::span<const std::uint8_t> bytes);

} // namespace zt::messages
