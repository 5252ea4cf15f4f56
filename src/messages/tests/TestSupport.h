#pragma once

#include <google/protobuf/message.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zt::messages::test {

// "0A 05 0d" -> bytes; spaces are ignored. Throws on a malformed literal.
std::string bytesFromHex(std::string_view hex);
// Bytes -> "0A 05 0D".
std::string hexOf(std::string_view bytes);

// Every message type of the schema, by bare name.
const std::vector<std::string>& allMessageTypeNames();
// A fresh default value of the named message type.
std::unique_ptr<google::protobuf::Message> newMessage(std::string_view typeName);

// Fields of a value in the library's text form on one line, without
// trailing space; unknown fields show as "number: value".
std::string fieldsText(const google::protobuf::Message& message);

std::string encode(const google::protobuf::Message& message);

// Sends file descriptor 2 to a temporary file until finish(), which returns
// what was written there.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string finish();

private:
    int savedFd_ = -1;
    std::FILE* file_ = nullptr;
};

} // namespace zt::messages::test
