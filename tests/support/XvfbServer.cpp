#include "support/XvfbServer.h"

#include "support/ChildProcess.h"

#include <stdexcept>

namespace zt::test {

XvfbServer::XvfbServer(const std::vector<std::string>& extraArgs, std::optional<int> display)
{
    // The display number comes on standard output once it takes connections.
    std::vector<std::string> args{"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"};
    if (display)
        args.push_back(std::string(":").append(std::to_string(*display)));
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    server_ = std::make_unique<ChildProcess>("Xvfb", args);
    const std::string number = server_->waitForLine(0, std::chrono::seconds(20)).value_or("");
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("XvfbServer: Xvfb did not start: " + server_->diagnostics());
    displayName_ = ":" + number;
}

XvfbServer::~XvfbServer() = default;

} // namespace zt::test
