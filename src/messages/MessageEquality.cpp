#include "messages/MessageEquality.h"

#include "messages/CanonicalText.h"
#include "messages/FieldReader.h"
#include "messages/UnknownFields.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/unknown_field_set.h>

#include <string>

namespace zt::messages {
namespace {

using google::protobuf::FieldDescriptor;

bool elementsEqual(const FieldReader& a, const FieldReader& b, const FieldDescriptor& field, int i)
{
    switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_FLOAT:
        return a.getFloat(i) == b.getFloat(i);
    case FieldDescriptor::CPPTYPE_DOUBLE:
        return a.getDouble(i) == b.getDouble(i);
    case FieldDescriptor::CPPTYPE_INT32:
        return a.getInt32(i) == b.getInt32(i);
    case FieldDescriptor::CPPTYPE_INT64:
        return a.getInt64(i) == b.getInt64(i);
    case FieldDescriptor::CPPTYPE_UINT32:
        return a.getUInt32(i) == b.getUInt32(i);
    case FieldDescriptor::CPPTYPE_UINT64:
        return a.getUInt64(i) == b.getUInt64(i);
    case FieldDescriptor::CPPTYPE_BOOL:
        return a.getBool(i) == b.getBool(i);
    case FieldDescriptor::CPPTYPE_ENUM:
        return a.getEnumNumber(i) == b.getEnumNumber(i);
    case FieldDescriptor::CPPTYPE_STRING: {
        std::string scratchA;
        std::string scratchB;
        const std::string& textA = a.getString(i, scratchA);
        const std::string& textB = b.getString(i, scratchB);
        if (field.type() == FieldDescriptor::TYPE_BYTES)
            return textA == textB;
        return canonicallyEquivalent(textA, textB);
    }
    case FieldDescriptor::CPPTYPE_MESSAGE:
        return equals(a.getMessage(i), b.getMessage(i));
    }
    return false;
}

bool fieldsEqual(const google::protobuf::Message& a, const google::protobuf::Message& b, const FieldDescriptor& field)
{
    const FieldReader readerA(a, field);
    const FieldReader readerB(b, field);
    if (field.is_repeated()) {
        const int size = readerA.size();
        if (size != readerB.size())
            return false;
        for (int i = 0; i < size; ++i) {
            if (!elementsEqual(readerA, readerB, field, i))
                return false;
        }
        return true;
    }
    if (field.has_presence()) {
        const bool hasA = readerA.has();
        if (hasA != readerB.has())
            return false;
        if (!hasA)
            return true;
    }
    return elementsEqual(readerA, readerB, field, -1);
}

bool unknownFieldsEqual(const google::protobuf::Message& a, const google::protobuf::Message& b)
{
    const auto& unknownA = a.GetReflection()->GetUnknownFields(a);
    const auto& unknownB = b.GetReflection()->GetUnknownFields(b);
    if (unknownA.empty() && unknownB.empty())
        return true;
    return unknownFieldBytes(a) == unknownFieldBytes(b);
}

} // namespace

bool equals(const google::protobuf::Message& a, const google::protobuf::Message& b)
{
    const google::protobuf::Descriptor* type = a.GetDescriptor();
    if (type != b.GetDescriptor())
        return false;
    for (int i = 0; i < type->field_count(); ++i) {
        if (!fieldsEqual(a, b, *type->field(i)))
            return false;
    }
    return unknownFieldsEqual(a, b);
}

} // namespace zt::messages
