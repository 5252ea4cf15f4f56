#pragma once

#include "messages/UpdateDecoder.h"

#include "watch_input.pb.h"
#include "watch_output.pb.h"

#include <google/protobuf/arena.h>
#include <google/protobuf/text_format.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zt::messages::test {

inline std::string bytesFromHex(std::string_view hex)
{
    std::istringstream in{std::string(hex)};
    std::string bytes, pair;
    while (in >> pair) {
        if (pair.size() != 2)
            throw std::invalid_argument("hex bytes go in pairs: " + pair);
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return bytes;
}

inline const std::vector<std::string>& allMessageTypeNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> result;
        for (const auto* file : {Update::descriptor()->file(), InputUpdate::descriptor()->file(),
                                 Vec3::descriptor()->file()}) {
            for (int i = 0; i < file->message_type_count(); ++i)
                result.push_back(file->message_type(i)->full_name());
        }
        return result;
    }();
    return names;
}

inline std::unique_ptr<google::protobuf::Message> newMessage(std::string_view typeName)
{
    (void)allMessageTypeNames(); // loads all three files into the generated pool
    const auto* type =
        google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(std::string(typeName));
    if (type == nullptr)
        throw std::invalid_argument("no message type " + std::string(typeName));
    return std::unique_ptr<google::protobuf::Message>(
        google::protobuf::MessageFactory::generated_factory()->GetPrototype(type)->New());
}

// Update goes through the application's own decoding call, every other type
// through the generated parser (which decodes nested messages); null on failure.
inline std::unique_ptr<google::protobuf::Message> decode(std::string_view type, std::string_view hex)
{
    const std::string bytes = bytesFromHex(hex);
    if (type == "Update") {
        const std::span input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        auto update = decodeUpdate(input);
        // Decoding into an arena must give the very same result.
        google::protobuf::Arena arena;
        const Update* inArena = decodeUpdate(input, arena);
        if ((inArena != nullptr) != update.has_value() ||
            (inArena && inArena->SerializeAsString() != update->SerializeAsString()))
            throw std::logic_error("decoding into an arena gives another Update");
        return update ? std::make_unique<Update>(std::move(*update)) : nullptr;
    }
    auto message = newMessage(type);
    return message->ParseFromString(bytes) ? std::move(message) : nullptr;
}

inline std::unique_ptr<google::protobuf::Message> decoded(std::string_view type, std::string_view hex)
{
    if (auto message = decode(type, hex))
        return message;
    throw std::invalid_argument("test bytes do not decode");
}

// The fields on one line; unknown fields show as "number: value".
inline std::string fieldsText(const google::protobuf::Message& message)
{
    google::protobuf::TextFormat::Printer printer;
    printer.SetSingleLineMode(true);
    std::string text;
    printer.PrintToString(message, &text);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The encoding as "0A 05 0D", so that a mismatch reads like the tables.
inline std::string encodedHex(const google::protobuf::Message& message)
{
    std::string hex;
    char digits[4];
    for (unsigned char byte : message.SerializeAsString()) {
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        hex += digits;
    }
    return hex.substr(0, hex.empty() ? 0 : hex.size() - 1);
}

} // namespace zt::messages::test
