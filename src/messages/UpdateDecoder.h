#pragma once

#include "watch_output.pb.h"

#include <cstdint>
#include <optional>
#include <span>

namespace google::protobuf {
class Arena;
}

namespace zt::messages {

// Decodes the bytes of one write as an Update: unknown fields kept, nesting
// limit 100, empty input gives the default Update without running the
// decoder. Malformed input gives nothing at all. Prints nothing.
std::optional<Update> decodeUpdate(std::span<const std::uint8_t> bytes);

// The same, decoded into `arena`: the Update lives until the arena is reset
// or destroyed. Once the arena has grown to the size of a write, decoding
// allocates nothing. Null when the input is malformed.
const Update* decodeUpdate(std::span<const std::uint8_t> bytes, google::protobuf::Arena& arena);

} // namespace zt::messages
