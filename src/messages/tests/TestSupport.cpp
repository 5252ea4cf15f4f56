#include "TestSupport.h"

#include "watch_input.pb.h"
#include "watch_output.pb.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/text_format.h>

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace zt::messages::test {

std::string bytesFromHex(std::string_view hex)
{
    std::string digits;
    for (char c : hex) {
        if (c != ' ')
            digits += c;
    }
    if (digits.size() % 2 != 0)
        throw std::invalid_argument("odd hex literal");
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string hexOf(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!hex.empty())
            hex += ' ';
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

const std::vector<std::string>& allMessageTypeNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> result;
        for (const auto* file : {Update::descriptor()->file(), InputUpdate::descriptor()->file(),
                                 Vec3::descriptor()->file()}) {
            for (int i = 0; i < file->message_type_count(); ++i)
                result.push_back(file->message_type(i)->full_name());
        }
        return result;
    }();
    return names;
}

std::unique_ptr<google::protobuf::Message> newMessage(std::string_view typeName)
{
    // Touch each file so the generated pool has loaded all three.
    (void)Update::descriptor();
    (void)InputUpdate::descriptor();
    const auto* type =
        google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(std::string(typeName));
    if (type == nullptr)
        throw std::invalid_argument("no message type " + std::string(typeName));
    return std::unique_ptr<google::protobuf::Message>(
        google::protobuf::MessageFactory::generated_factory()->GetPrototype(type)->New());
}

std::string fieldsText(const google::protobuf::Message& message)
{
    google::protobuf::TextFormat::Printer printer;
    printer.SetSingleLineMode(true);
    std::string text;
    printer.PrintToString(message, &text);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::string encode(const google::protobuf::Message& message)
{
    std::string bytes;
    message.SerializeToString(&bytes);
    return bytes;
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    file_ = std::tmpfile();
    savedFd_ = ::dup(2);
    if (file_ == nullptr || savedFd_ < 0 || ::dup2(::fileno(file_), 2) < 0)
        throw std::runtime_error("cannot redirect stderr");
}

StderrCapture::~StderrCapture()
{
    if (savedFd_ >= 0) {
        std::fflush(stderr);
        ::dup2(savedFd_, 2);
        ::close(savedFd_);
    }
    if (file_ != nullptr)
        std::fclose(file_);
}

std::string StderrCapture::finish()
{
    std::fflush(stderr);
    ::dup2(savedFd_, 2);
    ::close(savedFd_);
    savedFd_ = -1;
    std::string written;
    std::rewind(file_);
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
        written.append(buffer, n);
    return written;
}

} // namespace zt::messages::test
