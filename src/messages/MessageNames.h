#pragma once

#include <google/protobuf/descriptor.h>
#include <google/protobuf/generated_enum_reflection.h>
#include <google/protobuf/message.h>

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zt::messages {

// The schema declares no package, so a full name is the bare type name.
std::string_view protoMessageName(const google::protobuf::Message& message);

template <typename M>
std::string_view protoMessageName()
{
    return M::descriptor()->full_name();
}

// The qualified type name alone, without field content: "ZimTorva_Companion.Vec3".
std::string debugDescription(const google::protobuf::Message& message);

// One entry of a name map. The schema's names are lowerCamelCase, so a
// field's schema name is also its JSON name.
struct NameEntry {
    int number;
    std::string_view name;

    bool operator==(const NameEntry&) const = default;
};

// Entries in declaration order (SensorFrame: 1, 2, 3, 4, 6, 7, 5).
std::vector<NameEntry> nameMap(const google::protobuf::Descriptor& type);
std::vector<NameEntry> nameMap(const google::protobuf::EnumDescriptor& type);

std::optional<std::string_view> nameOf(const google::protobuf::Descriptor& type, int number);
std::optional<std::string_view> nameOf(const google::protobuf::EnumDescriptor& type, int number);
// Accepts the schema name or the JSON name.
std::optional<int> numberOf(const google::protobuf::Descriptor& type, std::string_view name);
std::optional<int> numberOf(const google::protobuf::EnumDescriptor& type, std::string_view name);

// Listed numbers of an enum, ascending, without duplicates.
std::vector<int> listedNumbers(const google::protobuf::EnumDescriptor& type);

// The listed values of an open enum in number order; an unlisted number
// (which the enum still carries) is never among them.
template <typename E>
    requires std::is_enum_v<E>
std::vector<E> allCases()
{
    std::vector<E> cases;
    for (int number : listedNumbers(*google::protobuf::GetEnumDescriptor<E>()))
        cases.push_back(static_cast<E>(number));
    return cases;
}

} // namespace zt::messages
