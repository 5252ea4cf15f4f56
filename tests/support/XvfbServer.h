#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace zt::test {

// A private X server for one test: Xvfb on a display number it picks
// itself, one 1280x800 screen, no TCP. Ready once constructed (throws
// std::runtime_error when it does not start); stopped on destruction.
class XvfbServer {
public:
    // `extraArgs` go to Xvfb after the usual ones, e.g. {"-tst"}.
    explicit XvfbServer(const std::vector<std::string>& extraArgs = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", for XOpenDisplay or $DISPLAY.
    const std::string& displayName() const { return displayName_; }

private:
    void stop();

    pid_t pid_ = -1;
    std::string displayName_;
    std::string logPath_;
};

} // namespace zt::test
