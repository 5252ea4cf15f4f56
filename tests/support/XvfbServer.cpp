#include "support/XvfbServer.h"

#include "support/ChildProcess.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace zt::test {
namespace {

// True once the server accepts a connection on its local socket. Only the
// socket: a server that refuses clients (a test's "-auth") is up all the
// same, and a connection that never completes the X set-up leaves no trace.
bool acceptsConnections(ChildProcess& server, const std::string& number, std::chrono::milliseconds limit)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = "/tmp/.X11-unix/X" + number;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (server.running()) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool connected = fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            close(fd);
        if (connected)
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        // Nothing announces a refused connection turning into a taken one.
        poll(nullptr, 0, 5);
    }
    return false;
}

} // namespace

XvfbServer::XvfbServer(const std::vector<std::string>& extraArgs, std::optional<int> display)
{
    // -noreset: a test that closes the last client must not make the server
    // reset under the next one that connects.
    std::vector<std::string> args{"Xvfb",      "-displayfd", "1",   "-screen", "0", "1280x800x24",
                                  "-nolisten", "tcp",        "-noreset"};
    if (display)
        args.push_back(":" + std::to_string(*display));
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    server_ = std::make_unique<ChildProcess>("Xvfb", args);
    // The display number comes on standard output once the server is set up.
    const std::string number = server_->waitForLine(0, std::chrono::seconds(20)).value_or("");
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("XvfbServer: Xvfb did not start: " + server_->diagnostics());
    if (!acceptsConnections(*server_, number, std::chrono::seconds(20)))
        throw std::runtime_error("XvfbServer: :" + number + " takes no connections: " + server_->diagnostics());
    displayName_ = ":" + number;
}

XvfbServer::~XvfbServer() = default;

} // namespace zt::test
