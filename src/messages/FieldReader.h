#pragma once

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <cstdint>
#include <string>

namespace zt::messages {

// Reads one field of a message through reflection: element `index` of a
// repeated field, or the singular field itself when index < 0. Lets equality
// and hashing treat singular fields and list elements alike.
class FieldReader {
public:
    FieldReader(const google::protobuf::Message& message, const google::protobuf::FieldDescriptor& field)
        : message_(message), reflection_(*message.GetReflection()), field_(&field)
    {
    }

    int size() const { return field_->is_repeated() ? reflection_.FieldSize(message_, field_) : 1; }

    float getFloat(int i) const
    {
        return i < 0 ? reflection_.GetFloat(message_, field_) : reflection_.GetRepeatedFloat(message_, field_, i);
    }
    double getDouble(int i) const
    {
        return i < 0 ? reflection_.GetDouble(message_, field_) : reflection_.GetRepeatedDouble(message_, field_, i);
    }
    std::int32_t getInt32(int i) const
    {
        return i < 0 ? reflection_.GetInt32(message_, field_) : reflection_.GetRepeatedInt32(message_, field_, i);
    }
    std::int64_t getInt64(int i) const
    {
        return i < 0 ? reflection_.GetInt64(message_, field_) : reflection_.GetRepeatedInt64(message_, field_, i);
    }
    std::uint32_t getUInt32(int i) const
    {
        return i < 0 ? reflection_.GetUInt32(message_, field_) : reflection_.GetRepeatedUInt32(message_, field_, i);
    }
    std::uint64_t getUInt64(int i) const
    {
        return i < 0 ? reflection_.GetUInt64(message_, field_) : reflection_.GetRepeatedUInt64(message_, field_, i);
    }
    bool getBool(int i) const
    {
        return i < 0 ? reflection_.GetBool(message_, field_) : reflection_.GetRepeatedBool(message_, field_, i);
    }
    // Enums by number, so an unlisted number compares and hashes as itself.
    int getEnumNumber(int i) const
    {
        return i < 0 ? reflection_.GetEnumValue(message_, field_)
                     : reflection_.GetRepeatedEnumValue(message_, field_, i);
    }
    const std::string& getString(int i, std::string& scratch) const
    {
        return i < 0 ? reflection_.GetStringReference(message_, field_, &scratch)
                     : reflection_.GetRepeatedStringReference(message_, field_, i, &scratch);
    }
    const google::protobuf::Message& getMessage(int i) const
    {
        return i < 0 ? reflection_.GetMessage(message_, field_) : reflection_.GetRepeatedMessage(message_, field_, i);
    }

    bool has() const { return reflection_.HasField(message_, field_); }

private:
    const google::protobuf::Message& message_;
    const google::protobuf::Reflection& reflection_;
    const google::protobuf::FieldDescriptor* field_;
};

} // namespace zt::messages
