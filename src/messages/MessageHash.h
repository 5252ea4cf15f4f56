#pragma once

#include <google/protobuf/message.h>

#include <cstddef>

namespace zt::messages {

// Hash along the encoding walk: the number and value of every field that
// encoding writes, in ascending number, then the unknown-field bytes. Values
// that equals() finds equal hash alike, which is why a string feeds its
// canonical decomposition and a float zero of either sign feeds nothing.
std::size_t hashValue(const google::protobuf::Message& message);

} // namespace zt::messages
