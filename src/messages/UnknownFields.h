#pragma once

#include <google/protobuf/message.h>

#include <string>

namespace zt::messages {

// The records a message kept without taking them for a field, encoded in
// arrival order: what encoding writes after the listed fields.
std::string unknownFieldBytes(const google::protobuf::Message& message);

} // namespace zt::messages
