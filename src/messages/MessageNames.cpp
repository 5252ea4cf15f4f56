#include "messages/MessageNames.h"

#include <algorithm>

namespace zt::messages {
namespace {

// The application module's name, which qualifies every message type.
constexpr std::string_view kModuleName = "ZimTorva_Companion";

} // namespace

std::string_view protoMessageName(const google::protobuf::Message& message)
{
    return message.GetDescriptor()->full_name();
}

std::string debugDescription(const google::protobuf::Message& message)
{
    std::string description(kModuleName);
    description += '.';
    description += protoMessageName(message);
    return description;
}

std::vector<NameEntry> nameMap(const google::protobuf::Descriptor& type)
{
    std::vector<NameEntry> entries;
    for (int i = 0; i < type.field_count(); ++i)
        entries.push_back({type.field(i)->number(), type.field(i)->name()});
    return entries;
}

std::vector<NameEntry> nameMap(const google::protobuf::EnumDescriptor& type)
{
    std::vector<NameEntry> entries;
    for (int i = 0; i < type.value_count(); ++i)
        entries.push_back({type.value(i)->number(), type.value(i)->name()});
    return entries;
}

std::optional<std::string_view> nameOf(const google::protobuf::Descriptor& type, int number)
{
    if (const auto* field = type.FindFieldByNumber(number))
        return field->name();
    return std::nullopt;
}

std::optional<std::string_view> nameOf(const google::protobuf::EnumDescriptor& type, int number)
{
    if (const auto* value = type.FindValueByNumber(number))
        return value->name();
    return std::nullopt;
}

std::optional<int> numberOf(const google::protobuf::Descriptor& type, std::string_view name)
{
    if (const auto* field = type.FindFieldByName(std::string(name)))
        return field->number();
    for (int i = 0; i < type.field_count(); ++i) {
        if (type.field(i)->json_name() == name)
            return type.field(i)->number();
    }
    return std::nullopt;
}

std::optional<int> numberOf(const google::protobuf::EnumDescriptor& type, std::string_view name)
{
    if (const auto* value = type.FindValueByName(std::string(name)))
        return value->number();
    return std::nullopt;
}

std::vector<int> listedNumbers(const google::protobuf::EnumDescriptor& type)
{
    std::vector<int> numbers;
    for (int i = 0; i < type.value_count(); ++i)
        numbers.push_back(type.value(i)->number());
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

} // namespace zt::messages
