#pragma once

#include "support/XvfbServer.h"

#include <memory>
#include <string>

namespace zt::test {

// An XvfbServer that can be stopped and started again on the same display,
// as a display manager restarts the X server. Its number stays reserved
// while the server is down: it comes from a range that servers picking the
// lowest free number never reach, and the test holds a claim on it that
// other instances of this class respect.
class RestartableXvfb {
public:
    RestartableXvfb();
    ~RestartableXvfb();
    RestartableXvfb(const RestartableXvfb&) = delete;
    RestartableXvfb& operator=(const RestartableXvfb&) = delete;

    const std::string& displayName() const { return displayName_; }
    void stop() { server_.reset(); }
    // Throws std::runtime_error when it does not start.
    void start() { server_ = std::make_unique<XvfbServer>(std::vector<std::string>{}, number_); }

private:
    int number_ = -1;
    int claim_ = -1;
    std::string displayName_;
    std::unique_ptr<XvfbServer> server_;
};

} // namespace zt::test
