#pragma once

#include <google/protobuf/message.h>

namespace zt::messages {

// Field-by-field equality of two messages, then their unknown fields as
// bytes. Values of two different message types are never equal.
//  - floats by IEEE comparison: NaN equals nothing, -0.0 equals +0.0;
//  - enums by number, so an unlisted number equals only itself;
//  - strings by Unicode canonical equivalence;
//  - a message field absent on one side and present on the other differs,
//    even when the present message holds only defaults;
//  - lists by length, then pairwise in order.
// Copies are deep, so a value holding a NaN is unequal to a copy of itself.
bool equals(const google::protobuf::Message& a, const google::protobuf::Message& b);

} // namespace zt::messages
