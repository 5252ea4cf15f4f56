#include "messages/UpdateDecoder.h"

#include <google/protobuf/arena.h>
#include <google/protobuf/stubs/logging.h>

#include <climits>

namespace zt::messages {
namespace {

bool parse(std::span<const std::uint8_t> bytes, Update& update)
{
    if (bytes.empty())
        return true;
    // The library cannot take more than INT_MAX bytes; refuse rather than
    // truncate the length.
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    // The library logs some rejections (invalid UTF-8) to stderr by itself;
    // an undecodable write is to be ignored without a word.
    const google::protobuf::LogSilencer silence;
    // ParseFromArray keeps unknown fields and applies the default nesting
    // limit of 100.
    return update.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
}

} // namespace

std::optional<Update> decodeUpdate(std::span<const std::uint8_t> bytes)
{
    Update update;
    if (!parse(bytes, update))
        return std::nullopt;
    return update;
}

const Update* decodeUpdate(std::span<const std::uint8_t> bytes, google::protobuf::Arena& arena)
{
    Update* update = google::protobuf::Arena::CreateMessage<Update>(&arena);
    return parse(bytes, *update) ? update : nullptr;
}

} // namespace zt::messages
