#include "messages/UpdateDecoder.h"

namespace zt::messages {

std::optional<Update> decodeUpdate(std::span<const std::uint8_t> bytes)
{
    Update update;
    if (bytes.empty())
        return update;
    if (!update.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())))
        return std::nullopt;
    return update;
}

} // namespace zt::messages
