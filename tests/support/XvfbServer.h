#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zt::test {

class ChildProcess;

// A private X server for one test: Xvfb on a display number it picks
// itself (or is given), one 1280x800 screen, no TCP. Ready once constructed (throws
// std::runtime_error when it does not start); stopped on destruction.
class XvfbServer {
public:
    // `extraArgs` go to Xvfb after the usual ones, e.g. {"-tst"}. `display`
    // takes that number, e.g. to start again where a stopped server was.
    explicit XvfbServer(const std::vector<std::string>& extraArgs = {}, std::optional<int> display = std::nullopt);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", for XOpenDisplay or $DISPLAY.
    const std::string& displayName() const { return displayName_; }

private:
    std::unique_ptr<ChildProcess> server_;
    std::string displayName_;
};

} // namespace zt::test
