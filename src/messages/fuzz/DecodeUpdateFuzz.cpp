// Any bytes: decoding never crashes, and whatever decodes keeps the
// invariants that containers and the link rely on.

#include "messages/MessageEquality.h"
#include "messages/MessageHash.h"
#include "messages/UpdateDecoder.h"

#include <google/protobuf/arena.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto update = zt::messages::decodeUpdate(std::span(data, size));
    // Decoding into an arena gives the very same result.
    google::protobuf::Arena arena;
    const Update* inArena = zt::messages::decodeUpdate(std::span(data, size), arena);
    if ((inArena != nullptr) != update.has_value())
        __builtin_trap();
    if (!update)
        return 0;
    if (inArena->SerializeAsString() != update->SerializeAsString())
        __builtin_trap();

    const Update copy = *update;
    const bool equal = zt::messages::equals(*update, copy);
    if (equal != zt::messages::equals(copy, *update))
        __builtin_trap();
    if (equal && zt::messages::hashValue(*update) != zt::messages::hashValue(copy))
        __builtin_trap();

    // What decoded encodes to bytes that decode again, to the same encoding.
    const std::string bytes = update->SerializeAsString();
    const auto again =
        zt::messages::decodeUpdate(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    if (!again || again->SerializeAsString() != bytes)
        __builtin_trap();
    return 0;
}
