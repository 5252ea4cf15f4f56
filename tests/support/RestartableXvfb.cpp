#include "support/RestartableXvfb.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace zt::test {
namespace {

constexpr int firstNumber = 600;
constexpr int lastNumber = 999;

// A socket bound to an abstract name for display `number`: held by one
// process at a time, and let go by the kernel when that process ends.
int claim(int number)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "zt-test-restartable-display-" + std::to_string(number);
    std::memcpy(address.sun_path + 1, name.data(), name.size()); // sun_path[0] == 0: abstract
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

RestartableXvfb::RestartableXvfb()
{
    for (int number = firstNumber; number <= lastNumber && !server_; ++number) {
        const int fd = claim(number);
        if (fd < 0)
            continue; // another test has it
        try {
            server_ = std::make_unique<XvfbServer>(std::vector<std::string>{}, number);
            number_ = number;
            claim_ = fd;
        } catch (const std::runtime_error&) {
            close(fd); // a server outside the tests has it
        }
    }
    if (!server_)
        throw std::runtime_error("RestartableXvfb: no display free in the tests' range");
    displayName_ = ":" + std::to_string(number_);
}

RestartableXvfb::~RestartableXvfb()
{
    server_.reset();
    close(claim_);
}

} // namespace zt::test
