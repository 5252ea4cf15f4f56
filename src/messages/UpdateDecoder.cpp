#include "messages/UpdateDecoder.h"

#include <google/protobuf/stubs/logging.h>

#include <climits>

namespace zt::messages {

std::optional<Update> decodeUpdate(std::span<const std::uint8_t> bytes)
{
    Update update;
    if (bytes.empty())
        return update;
    // The library cannot take more than INT_MAX bytes; refuse rather than
    // truncate the length.
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    // The library logs some rejections (invalid UTF-8) to stderr by itself;
    // an undecodable write is to be ignored without a word.
    const google::protobuf::LogSilencer silence;
    // ParseFromArray keeps unknown fields and applies the default nesting
    // limit of 100.
    if (!update.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())))
        return std::nullopt;
    return update;
}

} // namespace zt::messages
