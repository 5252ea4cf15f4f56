#include "messages/MessageHash.h"

#include "messages/CanonicalText.h"
#include "messages/FieldReader.h"
#include "messages/UnknownFields.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/unknown_field_set.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zt::messages {
namespace {

using google::protobuf::FieldDescriptor;

class Hasher {
public:
    void add(std::uint64_t word) { state_ = mix(state_ ^ word); }
    void add(std::string_view bytes)
    {
        add(static_cast<std::uint64_t>(bytes.size()));
        add(static_cast<std::uint64_t>(std::hash<std::string_view>{}(bytes)));
    }
    std::size_t value() const { return static_cast<std::size_t>(state_); }

private:
    // splitmix64's finaliser: every input bit reaches every output bit.
    static std::uint64_t mix(std::uint64_t x)
    {
        x += 0x9e3779b97f4a7c15ULL;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        return x ^ (x >> 31);
    }

    std::uint64_t state_ = 0;
};

// -0.0 equals +0.0, so both feed the same word.
std::uint64_t floatWord(float value)
{
    return value == 0.0f ? 0 : std::bit_cast<std::uint32_t>(value);
}

std::uint64_t floatWord(double value)
{
    return value == 0.0 ? 0 : std::bit_cast<std::uint64_t>(value);
}

void addElement(Hasher& hasher, const FieldReader& reader, const FieldDescriptor& field, int i)
{
    switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_FLOAT:
        hasher.add(floatWord(reader.getFloat(i)));
        return;
    case FieldDescriptor::CPPTYPE_DOUBLE:
        hasher.add(floatWord(reader.getDouble(i)));
        return;
    case FieldDescriptor::CPPTYPE_INT32:
        hasher.add(static_cast<std::uint64_t>(static_cast<std::int64_t>(reader.getInt32(i))));
        return;
    case FieldDescriptor::CPPTYPE_INT64:
        hasher.add(static_cast<std::uint64_t>(reader.getInt64(i)));
        return;
    case FieldDescriptor::CPPTYPE_UINT32:
        hasher.add(reader.getUInt32(i));
        return;
    case FieldDescriptor::CPPTYPE_UINT64:
        hasher.add(reader.getUInt64(i));
        return;
    case FieldDescriptor::CPPTYPE_BOOL:
        hasher.add(reader.getBool(i) ? 1U : 0U);
        return;
    case FieldDescriptor::CPPTYPE_ENUM:
        hasher.add(static_cast<std::uint64_t>(static_cast<std::int64_t>(reader.getEnumNumber(i))));
        return;
    case FieldDescriptor::CPPTYPE_STRING: {
        std::string scratch;
        const std::string& text = reader.getString(i, scratch);
        if (field.type() != FieldDescriptor::TYPE_BYTES) {
            if (const auto decomposed = canonicalDecomposition(text)) {
                hasher.add(std::string_view(*decomposed));
                return;
            }
        }
        hasher.add(std::string_view(text));
        return;
    }
    case FieldDescriptor::CPPTYPE_MESSAGE:
        hasher.add(static_cast<std::uint64_t>(hashValue(reader.getMessage(i))));
        return;
    }
}

// Whether encoding leaves the singular field out, except that a float zero
// of either sign counts as left out (see floatWord).
bool atDefault(const FieldReader& reader, const FieldDescriptor& field)
{
    if (field.has_presence())
        return !reader.has();
    switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_FLOAT:
        return reader.getFloat(-1) == 0.0f;
    case FieldDescriptor::CPPTYPE_DOUBLE:
        return reader.getDouble(-1) == 0.0;
    case FieldDescriptor::CPPTYPE_INT32:
        return reader.getInt32(-1) == 0;
    case FieldDescriptor::CPPTYPE_INT64:
        return reader.getInt64(-1) == 0;
    case FieldDescriptor::CPPTYPE_UINT32:
        return reader.getUInt32(-1) == 0;
    case FieldDescriptor::CPPTYPE_UINT64:
        return reader.getUInt64(-1) == 0;
    case FieldDescriptor::CPPTYPE_BOOL:
        return !reader.getBool(-1);
    case FieldDescriptor::CPPTYPE_ENUM:
        return reader.getEnumNumber(-1) == 0;
    case FieldDescriptor::CPPTYPE_STRING: {
        std::string scratch;
        return reader.getString(-1, scratch).empty();
    }
    case FieldDescriptor::CPPTYPE_MESSAGE:
        return !reader.has();
    }
    return true;
}

std::vector<const FieldDescriptor*> fieldsByNumber(const google::protobuf::Descriptor& type)
{
    std::vector<const FieldDescriptor*> fields;
    fields.reserve(static_cast<std::size_t>(type.field_count()));
    for (int i = 0; i < type.field_count(); ++i)
        fields.push_back(type.field(i));
    std::sort(fields.begin(), fields.end(),
              [](const FieldDescriptor* a, const FieldDescriptor* b) { return a->number() < b->number(); });
    return fields;
}

} // namespace

std::size_t hashValue(const google::protobuf::Message& message)
{
    Hasher hasher;
    for (const FieldDescriptor* field : fieldsByNumber(*message.GetDescriptor())) {
        const FieldReader reader(message, *field);
        if (field->is_repeated()) {
            const int size = reader.size();
            if (size == 0)
                continue;
            hasher.add(static_cast<std::uint64_t>(field->number()));
            hasher.add(static_cast<std::uint64_t>(size));
            for (int i = 0; i < size; ++i)
                addElement(hasher, reader, *field, i);
        } else if (!atDefault(reader, *field)) {
            hasher.add(static_cast<std::uint64_t>(field->number()));
            addElement(hasher, reader, *field, -1);
        }
    }
    if (!message.GetReflection()->GetUnknownFields(message).empty())
        hasher.add(std::string_view(unknownFieldBytes(message)));
    return hasher.value();
}

} // namespace zt::messages
