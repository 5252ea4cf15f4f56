#include "messages/UnknownFields.h"

#include <google/protobuf/unknown_field_set.h>

namespace zt::messages {

std::string unknownFieldBytes(const google::protobuf::Message& message)
{
    const google::protobuf::UnknownFieldSet& unknown = message.GetReflection()->GetUnknownFields(message);
    std::string bytes;
    if (!unknown.empty())
        unknown.SerializeToString(&bytes);
    return bytes;
}

} // namespace zt::messages
